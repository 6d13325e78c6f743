#!/usr/bin/env bash
# Installs whatever is missing, builds, and runs the whole test suite.
# Exits non-zero on any failure.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/scripts/common.sh"

ensure_packages "${UPDATER_RUN_PACKAGES[@]}" "${UPDATER_TEST_PACKAGES[@]}"

configure_build main "${UPDATER_MAIN_BUILD_OPTIONS[@]}"
build main
log "Running the test suite"
ctest --test-dir "$UPDATER_BUILD_ROOT/main" --output-on-failure -j"$(nproc)"
