# Shared by run.sh and test.sh: installs missing Debian packages and builds.
# Sourced, not run.

UPDATER_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
UPDATER_BUILD_ROOT="${UPDATER_BUILD_ROOT:-$UPDATER_ROOT/build}"

# Packages to build and run the tool.
UPDATER_RUN_PACKAGES=(cmake ninja-build g++ pkg-config qtbase5-dev qtbase5-dev-tools
  zlib1g-dev dfu-util fonts-cantarell)
# Packages the test suite needs on top.
UPDATER_TEST_PACKAGES=(clang-14 libclang-rt-14-dev xvfb xauth xdotool x11-utils dpkg-dev desktop-file-utils)

log() { printf '== %s\n' "$*" >&2; }

ensure_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "Installing missing packages: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# configure_build NAME [cmake options...]: configures $UPDATER_BUILD_ROOT/NAME once.
configure_build() {
  local name=$1; shift
  local dir="$UPDATER_BUILD_ROOT/$name"
  if [ ! -f "$dir/build.ninja" ]; then
    log "Configuring the $name build"
    cmake -S "$UPDATER_ROOT" -B "$dir" -G Ninja "$@" >/dev/null
  fi
}

# build NAME [targets...]
build() {
  local name=$1; shift
  local targets=()
  [ $# -gt 0 ] && targets=(--target "$@")
  log "Building ($name)"
  cmake --build "$UPDATER_BUILD_ROOT/$name" "${targets[@]}" -- -j"$(nproc)" >&2
}

UPDATER_MAIN_BUILD_OPTIONS=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
