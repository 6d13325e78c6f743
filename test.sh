#!/usr/bin/env bash
# Installs whatever is missing, builds, and runs the whole test suite:
# the main build's tests, the sanitizer builds with the fuzzers, and the
# Debian package. Exits non-zero on any failure.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/scripts/common.sh"

ensure_packages "${UPDATER_RUN_PACKAGES[@]}" "${UPDATER_TEST_PACKAGES[@]}"

configure_build main "${UPDATER_MAIN_BUILD_OPTIONS[@]}"
build main
log "Running the test suite"
ctest --test-dir "$UPDATER_BUILD_ROOT/main" --output-on-failure -j"$(nproc)"

log "Sanitizer builds and fuzzers"
"$UPDATER_ROOT/scripts/sanitizer_tests.sh"

if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
  log "Debian package: build, install, start, remove"
  "$UPDATER_ROOT/tests/packaging/test_deb.sh" "$UPDATER_BUILD_ROOT/main"
else
  log "Skipping the Debian package test: it installs system-wide and needs root"
fi
