#!/usr/bin/env bash
# Installs whatever is missing, builds, and starts the tool with the given options:
#   ./run.sh [-s|--use-simulator] [-S|--no-use-simulator] [-l|--use-log-window]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/scripts/common.sh"

ensure_packages "${UPDATER_RUN_PACKAGES[@]}"
configure_build main "${UPDATER_MAIN_BUILD_OPTIONS[@]}"
build main lumarex-upgrade-tool

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  cat >&2 <<'MSG'
There is no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is set).
Run the tool on a virtual display (Debian package xvfb):
    xvfb-run -a ./run.sh -s
or without any window at all (the log still goes to the terminal):
    QT_QPA_PLATFORM=offscreen ./run.sh -s
MSG
  exit 2
fi

exec "$UPDATER_BUILD_ROOT/main/updater/software/lumarex-upgrade-tool" "$@"
