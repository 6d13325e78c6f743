#!/usr/bin/env bash
# Long-use checks of the tool against virtual units behind the real dfu-util.
# Not part of the test suite: each run takes from minutes to an hour.
#
#   tests/soak/soak.sh [--build DIR] cycles [COUNT]        (default 100)
#       COUNT complete upgrades in one run of the tool: plug a unit with an
#       older image, install, verify, unplug; samples after every cycle.
#   tests/soak/soak.sh [--build DIR] idle [MINUTES] [SECONDS_BETWEEN_SAMPLES]
#       the tool polling with no unit attached (defaults 60 and 60).
#
# DIR is a configured build directory (default: ./build/main). Both modes
# print a table: RSS in kB, open file descriptors, child processes, threads
# and CPU time in clock ticks (utime + stime) of the tool's process.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="$ROOT/build/main"
if [ "${1:-}" = "--build" ]; then
  BUILD="$(cd "$2" && pwd)"
  shift 2
fi
MODE="${1:-}"
[ -n "$MODE" ] && shift

die() { printf 'soak: %s\n' "$*" >&2; exit 1; }

# One line of figures for process $1.
sample() {
  local pid=$1 rss fds children threads cpu stat rest
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")
  threads=$(awk '/^Threads:/ {print $2}' "/proc/$pid/status")
  fds=$(find "/proc/$pid/fd" -mindepth 1 -maxdepth 1 | wc -l)
  # The command name may hold spaces and parentheses: fields after the last ')'.
  children=0
  for stat in /proc/[0-9]*/stat; do
    rest=$(sed 's/.*) //' "$stat" 2>/dev/null) || continue
    set -- $rest
    [ "${2:-}" = "$pid" ] && children=$((children + 1))
  done
  rest=$(sed 's/.*) //' "/proc/$pid/stat")
  set -- $rest
  cpu=$(( ${12} + ${13} ))
  printf '%s\t%s\t%s\t%s\t%s\n' "$rss" "$fds" "$children" "$threads" "$cpu"
}

run_idle() {
  local minutes=${1:-60} interval=${2:-60}
  local tool="$BUILD/updater/software/lumarex-upgrade-tool"
  local lib="$BUILD/tests/virtual_unit/lib"
  [ -x "$tool" ] || die "no tool at $tool (build target lumarex-upgrade-tool)"
  [ -f "$lib/libusb-1.0.so.0" ] || die "no virtual libusb in $lib (build target virtual_libusb)"

  local base
  base=$(mktemp -d "${TMPDIR:-/tmp}/soak-idle.XXXXXX")
  mkdir -p "$base/tmp" "$base/bus" "$base/lib" "$base/runtime"
  chmod 0700 "$base/runtime"
  # Private copies, so that rebuilding while the hour runs changes nothing.
  cp "$tool" "$base/lumarex-upgrade-tool"
  cp "$lib/libusb-1.0.so.0" "$base/lib/"

  env TMPDIR="$base/tmp" XDG_RUNTIME_DIR="$base/runtime" QT_QPA_PLATFORM=offscreen \
      LD_LIBRARY_PATH="$base/lib" VIRTUAL_DFU_UNITS="$base/bus" nice -n 10 "$base/lumarex-upgrade-tool" \
      >"$base/stdout.log" 2>"$base/stderr.log" &
  local pid=$!
  local waited=0
  until grep -q '^Starting sm_A$' "$base/stderr.log" 2>/dev/null; do
    sleep 1; waited=$((waited + 1))
    [ $waited -lt 60 ] || die "the tool did not start (see $base/stderr.log)"
  done

  printf '# idle: %s min, sample every %s s, tool pid %s, files in %s\n' "$minutes" "$interval" "$pid" "$base"
  printf 'minute\trss_kB\tfds\tchildren\tthreads\tcpu_ticks\n'
  local end=$(( $(date +%s) + minutes * 60 )) start
  start=$(date +%s)
  while :; do
    kill -0 "$pid" 2>/dev/null || die "the tool ended early (see $base/stderr.log)"
    printf '%s\t%s\n' "$(( ($(date +%s) - start) / 60 ))" "$(sample "$pid")"
    [ "$(date +%s)" -lt "$end" ] || break
    sleep "$interval"
  done

  local workdir
  workdir=$(ls -d "$base/tmp"/upgrade_* 2>/dev/null || true)
  kill -TERM "$pid"
  local code=0
  wait "$pid" || code=$?
  printf '# exit code %s; working directory %s; stderr lines %s\n' "$code" \
    "$([ -n "$workdir" ] && [ ! -e "$workdir" ] && echo removed || echo LEFT)" "$(wc -l <"$base/stderr.log")"
  [ "$code" -eq 0 ] || die "exit code $code"
  [ -n "$workdir" ] && [ ! -e "$workdir" ] || die "working directory not removed"
}

run_cycles() {
  local count=${1:-100}
  local driver="$BUILD/tests/soak/soak_driver"
  cmake --build "$BUILD" --target soak_driver -- -j2 >&2
  local base
  base=$(mktemp -d "${TMPDIR:-/tmp}/soak-cycles.XXXXXX")
  mkdir -p "$base/tmp" "$base/runtime"
  chmod 0700 "$base/runtime"
  printf '# cycles: %s, files in %s\n' "$count" "$base"
  # The tool's own standard-output line for every unit read is left out of the table.
  if ! TMPDIR="$base/tmp" XDG_RUNTIME_DIR="$base/runtime" QT_QPA_PLATFORM=offscreen \
      nice -n 10 "$driver" "$count" 2>"$base/stderr.log" \
      | grep --line-buffered -v '^device_has_valid_type(' | tee "$base/table.tsv"; then
    die "not every cycle ended in \"Done. Disconnect USB cable.\" (see $base)"
  fi
  [ -z "$(ls -A "$base/tmp")" ] || die "working files left in $base/tmp"
}

case "$MODE" in
  idle) run_idle "$@" ;;
  cycles) run_cycles "$@" ;;
  *) sed -n '2,13p' "${BASH_SOURCE[0]}" >&2; exit 2 ;;
esac
