#!/usr/bin/env bash
# Sanitizer builds with clang-14, run by test.sh after the main build:
#   asan: AddressSanitizer + UndefinedBehaviorSanitizer over everything, the
#         whole test suite, then every fuzz target for UPDATER_FUZZ_SECONDS each;
#   tsan: ThreadSanitizer over the tests that run more than one thread.
# Both builds live under $UPDATER_BUILD_ROOT. Exits non-zero on any finding.
# Usage: scripts/sanitizer_tests.sh [asan] [tsan]   (both when none is named)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

UPDATER_FUZZ_SECONDS="${UPDATER_FUZZ_SECONDS:-20}"
# The tests with threads of their own (SM_A's thread, the log window's handler
# called from any thread, the runner's abort from another thread), and the
# whole-tool runs against virtual units in real mode.
UPDATER_TSAN_TESTS='^(control/.*|app/tst_complete_flow|app/tst_log_window|dfu/tst_dfu_runner|virtual_unit/tst_real_mode.*)$'

# Line tables are enough for the sanitizers' stack traces and keep the builds short.
SANITIZER_BUILD_OPTIONS=(
  -DCMAKE_BUILD_TYPE=RelWithDebInfo
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -gline-tables-only -DNDEBUG"
  "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -gline-tables-only -DNDEBUG"
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14)

supp="$UPDATER_ROOT/tests"

run_asan() (
  # Also in force while building: the generators of the embedded data are
  # sanitized programs too, and they run during the build.
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:check_initialization_order=1:strict_init_order=1"
  export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  configure_build asan "${SANITIZER_BUILD_OPTIONS[@]}" -DUPDATER_SANITIZE=address -DUPDATER_FUZZ=ON
  build asan
  log "Running the test suite under AddressSanitizer and UndefinedBehaviorSanitizer"
  ctest --test-dir "$UPDATER_BUILD_ROOT/asan" --output-on-failure -j"$(nproc)"
  log "Fuzzing every target for ${UPDATER_FUZZ_SECONDS}s"
  "$UPDATER_ROOT/tests/fuzz/run_fuzzers.sh" "$UPDATER_BUILD_ROOT/asan" "$UPDATER_FUZZ_SECONDS"
)

run_tsan() (
  configure_build tsan "${SANITIZER_BUILD_OPTIONS[@]}" -DUPDATER_SANITIZE=thread
  local dir="$UPDATER_BUILD_ROOT/tsan"
  # Test folder/tst_name is built by target folder_tst_name.
  local targets
  mapfile -t targets < <(ctest --test-dir "$dir" -N -R "$UPDATER_TSAN_TESTS" |
    sed -n 's|^ *Test *#[0-9]*: \([a-z_]*\)/\(tst_[a-z0-9_]*\)$|\1_\2|p')
  if [ ${#targets[@]} -eq 0 ]; then
    log "No threaded tests found in the tsan build"
    return 1
  fi
  build tsan "${targets[@]}"
  log "Running the threaded tests under ThreadSanitizer: ${targets[*]}"
  # Tests whose ctest entry sets its own TSAN_OPTIONS use the same options.
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ignore_noninstrumented_modules=1 suppressions=$supp/tsan.supp" \
    ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" -R "$UPDATER_TSAN_TESTS"
)

builds=("$@")
[ ${#builds[@]} -eq 0 ] && builds=(asan tsan)
for name in "${builds[@]}"; do
  case "$name" in
    asan) run_asan ;;
    tsan) run_tsan ;;
    *) echo "usage: $0 [asan] [tsan]" >&2; exit 2 ;;
  esac
done
