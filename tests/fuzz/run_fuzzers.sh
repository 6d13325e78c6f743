#!/bin/sh
# Runs every fuzz target of a build for SECONDS each, over a scratch copy of its
# seed corpus (corpus/<name>/ for target fuzz_<name>); the source tree is never
# written. Exits non-zero when a target crashes or cannot be run; the crashing
# input stays in the scratch directory, whose path is printed.
# Usage: run_fuzzers.sh BUILD_DIR SECONDS
set -u

if [ $# -ne 2 ]; then
    echo "usage: $0 BUILD_DIR SECONDS" >&2
    exit 2
fi
build_dir=$1
seconds=$2
corpus_root=$(cd "$(dirname "$0")" && pwd)/corpus
scratch=$(mktemp -d "${TMPDIR:-/tmp}/updater_fuzz_XXXXXX") || exit 2

failed=0
for seeds in "$corpus_root"/*/; do
    name=$(basename "$seeds")
    fuzzer="$build_dir/tests/fuzz/fuzz_$name"
    if [ ! -x "$fuzzer" ]; then
        echo "fuzz_$name: not built in $build_dir" >&2
        failed=1
        continue
    fi
    corpus="$scratch/$name/corpus"
    artifacts="$scratch/$name/artifacts"
    mkdir -p "$corpus" "$artifacts"
    cp "$seeds"* "$corpus"/
    echo "== fuzz_$name for ${seconds}s"
    if "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
            -artifact_prefix="$artifacts/" "$corpus" >"$scratch/$name/log" 2>&1; then
        grep -E '^#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::peak_rss_mb' "$scratch/$name/log"
    else
        echo "fuzz_$name FAILED; log and crashing input in $scratch/$name" >&2
        grep -E 'ERROR:|SUMMARY:|deadly signal|Test unit written|Slowest unit' "$scratch/$name/log" >&2
        failed=1
    fi
done

if [ $failed -eq 0 ]; then
    rm -rf "$scratch"
fi
exit $failed
