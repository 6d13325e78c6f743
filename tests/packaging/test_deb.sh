#!/usr/bin/env bash
# Builds the Debian package from a configured build directory and checks what
# it declares and holds. As root with apt-get it also installs the package,
# starts the installed tool in simulator mode, stops it with SIGTERM and removes
# the package again, checking that everything it brought is gone.
#
#   tests/packaging/test_deb.sh BUILD_DIR
#
# Exits non-zero when any check fails; every failed check is printed.
# Most functions run through check() and trap, which shellcheck does not follow.
# shellcheck disable=SC2317
set -uo pipefail

PACKAGE=lumarex-upgrade-tool
# The installed tool counts as running once it logs that it starts its device
# thread. A build without the control objects wired up does not log that line;
# then its first line, the command-line report, has to do.
STARTED_LINE="Starting sm_A"
FIRST_LINE="Initial value of 'simulator::use'"
START_TIMEOUT_S=30
STOP_TIMEOUT_S=30

EXECUTABLE=/usr/bin/lumarex-upgrade-tool
DESKTOP_ENTRY=/usr/share/applications/lumarex-upgrade-tool.desktop
ICON_SVG=/usr/share/icons/hicolor/scalable/apps/lumarex-upgrade-tool.svg
ICON_PNG=/usr/share/icons/hicolor/256x256/apps/lumarex-upgrade-tool.png
UDEV_RULE=/lib/udev/rules.d/70-lumarex-arc31-dfu.rules
INSTALLED_FILES=("$EXECUTABLE" "$DESKTOP_ENTRY" "$ICON_SVG" "$ICON_PNG" "$UDEV_RULE")

failures=0
pass() { printf 'PASS: %s\n' "$*"; }
fail() { printf 'FAIL: %s\n' "$*" >&2; failures=$((failures + 1)); }
skip() { printf 'SKIP: %s\n' "$*"; }
not() { ! "$@"; }
check() { # check DESCRIPTION COMMAND...
  local description=$1; shift
  if "$@"; then pass "$description"; else fail "$description"; fi
}
abort() { fail "$*"; finish; }

if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
BUILD_DIR=$(cd "$1" 2>/dev/null && pwd) || { echo "no such directory: $1" >&2; exit 2; }

workdir=$(mktemp -d)
# apt reads the .deb as its unprivileged _apt user.
chmod 755 "$workdir"
tool_pid=
installed_here=false

apt_get() {
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 "$@"
}

package_installed() {
  dpkg-query -W -f='${Status}' "$PACKAGE" 2>/dev/null | grep -q ' installed$'
}

package_known_to_dpkg() {
  local status
  status=$(dpkg-query -W -f='${Status}' "$PACKAGE" 2>/dev/null) || return 1
  [ -n "$status" ] && [ "${status##* }" != "not-installed" ]
}

cleanup() {
  if [ -n "$tool_pid" ] && kill -0 "$tool_pid" 2>/dev/null; then
    kill -KILL "$tool_pid" 2>/dev/null
    wait "$tool_pid" 2>/dev/null
  fi
  if $installed_here && package_known_to_dpkg; then
    apt_get purge -y -qq "$PACKAGE" >/dev/null 2>&1
  fi
  rm -rf "$workdir"
}
trap cleanup EXIT

finish() {
  if [ "$failures" -eq 0 ]; then
    echo "test_deb.sh: all checks passed"
    exit 0
  fi
  echo "test_deb.sh: $failures check(s) failed" >&2
  exit 1
}

# --- Build the package -------------------------------------------------------

[ -f "$BUILD_DIR/CPackConfig.cmake" ] ||
  abort "$BUILD_DIR has no CPackConfig.cmake: configure it with cmake first"
command -v dpkg-deb >/dev/null || abort "dpkg-deb is missing"

echo "== Building $PACKAGE in $BUILD_DIR"
cmake --build "$BUILD_DIR" --target lumarex-upgrade-tool >"$workdir/build.log" 2>&1 ||
  { cat "$workdir/build.log" >&2; abort "building lumarex-upgrade-tool"; }

echo "== Packaging"
(cd "$BUILD_DIR" && cpack --config "$BUILD_DIR/CPackConfig.cmake" -G DEB -B "$workdir/cpack") \
  >"$workdir/cpack.log" 2>&1 || { cat "$workdir/cpack.log" >&2; abort "cpack -G DEB"; }
debs=("$workdir"/cpack/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  abort "cpack made no single .deb file: ${debs[*]}"
fi
deb="$workdir/$(basename "${debs[0]}")"
mv "${debs[0]}" "$deb"
echo "== $(basename "$deb")"

# --- What the package declares -----------------------------------------------

field() { dpkg-deb -f "$deb" "$1"; }
# The package names in Depends, one a line, without versions or alternatives.
depends_names() {
  field Depends | sed -e 's/[,|]/\n/g' | sed -e 's/(.*)//' -e 's/[[:space:]]//g' -e '/^$/d'
}
depends_on() { depends_names | grep -qx "$1"; }

check "package name is $PACKAGE" test "$(field Package)" = "$PACKAGE"
check "version is set ($(field Version))" test -n "$(field Version)"
check "section is utils" test "$(field Section)" = utils
check "maintainer is the tools team" \
  test "$(field Maintainer)" = "Lumarex Tools Team <tools@lumarex.example>"
check "description is set" test -n "$(field Description)"
echo "   Depends: $(field Depends)"
check "depends on libusb-1.0-0 (for the embedded dfu-util)" depends_on libusb-1.0-0
check "depends on the Qt 5 widgets library (libqt5widgets5)" depends_on libqt5widgets5
check "depends on the Qt 5 core library (libqt5core5a)" depends_on libqt5core5a

dpkg-deb -I "$deb" postinst >"$workdir/postinst" 2>/dev/null
dpkg-deb -I "$deb" postrm >"$workdir/postrm" 2>/dev/null
check "postinst reloads the udev rules" grep -q 'udevadm control --reload-rules' "$workdir/postinst"
check "postrm reloads the udev rules" grep -q 'udevadm control --reload-rules' "$workdir/postrm"

# --- What the package holds ---------------------------------------------------

dpkg-deb -c "$deb" | awk '{ print $1, $6 }' >"$workdir/contents"
holds() { # holds PATH MODE
  grep -qxF -- "$2 .$1" "$workdir/contents"
}
check "holds the executable $EXECUTABLE" holds "$EXECUTABLE" -rwxr-xr-x
check "holds the desktop entry $DESKTOP_ENTRY" holds "$DESKTOP_ENTRY" -rw-r--r--
check "holds the scalable icon $ICON_SVG" holds "$ICON_SVG" -rw-r--r--
check "holds the 256x256 icon $ICON_PNG" holds "$ICON_PNG" -rw-r--r--
check "holds the udev rule $UDEV_RULE" holds "$UDEV_RULE" -rw-r--r--

dpkg-deb -x "$deb" "$workdir/root"
root="$workdir/root"
rule_matches() {
  grep -v '^#' "$root$UDEV_RULE" | grep 'SUBSYSTEM=="usb"' | grep 'ENV{DEVTYPE}=="usb_device"' |
    grep 'ATTR{idVendor}=="0483"' | grep 'ATTR{idProduct}=="df11"' | grep -q 'TAG+="uaccess"'
}
sorts_before_seat_late() { [[ "$(basename "$UDEV_RULE")" < "73-seat-late.rules" ]]; }
check "udev rule tags 0483:df11 for uaccess" rule_matches
check "udev rule sorts before 73-seat-late.rules" sorts_before_seat_late

png_size() { # width and height from the IHDR chunk
  od -An -tu1 -j16 -N8 "$1" | awk '{ print $1*16777216 + $2*65536 + $3*256 + $4 "x" $5*16777216 + $6*65536 + $7*256 + $8 }'
}
check "PNG icon is 256x256" test "$(png_size "$root$ICON_PNG")" = 256x256
check "SVG icon is an SVG document" grep -q '<svg' "$root$ICON_SVG"
entry_value() { sed -n "s/^$1=//p" "$root$DESKTOP_ENTRY"; }
check "desktop entry runs $(basename "$EXECUTABLE")" test "$(entry_value Exec)" = "$(basename "$EXECUTABLE")"
check "desktop entry names the installed icon" test "$(entry_value Icon)" = "$(basename "$ICON_SVG" .svg)"
if command -v desktop-file-validate >/dev/null; then
  check "desktop-file-validate accepts the desktop entry" desktop-file-validate "$root$DESKTOP_ENTRY"
else
  skip "desktop-file-validate (package desktop-file-utils) is not installed"
fi

# --- Install, start, remove ---------------------------------------------------

if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null; then
  skip "install, start and removal need root and apt-get"
  finish
fi

if package_known_to_dpkg; then
  echo "== Removing the $PACKAGE installed before"
  apt_get purge -y -qq "$PACKAGE" >"$workdir/purge-before.log" 2>&1 ||
    { cat "$workdir/purge-before.log" >&2; abort "purging the $PACKAGE installed before"; }
fi

echo "== Installing"
installed_here=true
apt_get install -y -qq "$deb" >"$workdir/install.log" 2>&1 ||
  { cat "$workdir/install.log" >&2; abort "apt-get install $deb"; }
check "package is installed" package_installed
for file in "${INSTALLED_FILES[@]}"; do
  check "installed $file" test -f "$file"
done
check "installed executable is executable" test -x "$EXECUTABLE"
check "the desktop entry's command is found on PATH" \
  test "$(command -v "$(basename "$EXECUTABLE")")" = "$EXECUTABLE"

echo "== Starting the installed tool in simulator mode"
if ! grep -qaF "$STARTED_LINE" "$EXECUTABLE"; then
  echo "   (the executable has no \"$STARTED_LINE\": waiting for \"$FIRST_LINE\" instead)"
  STARTED_LINE=$FIRST_LINE
fi
(cd "$workdir" && QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES="default.debug=true" \
  exec "$EXECUTABLE" -s) >"$workdir/tool.stdout" 2>"$workdir/tool.stderr" &
tool_pid=$!
failures_before_start=$failures
started=false
deadline=$((SECONDS + START_TIMEOUT_S))
while [ $SECONDS -lt $deadline ]; do
  if grep -qsF "$STARTED_LINE" "$workdir/tool.stderr"; then
    started=true
    break
  fi
  kill -0 "$tool_pid" 2>/dev/null || break
  sleep 0.2
done
if $started; then
  pass "installed tool started (\"$STARTED_LINE\" on standard error)"
  kill -TERM "$tool_pid"
  deadline=$((SECONDS + STOP_TIMEOUT_S))
  while kill -0 "$tool_pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do
    sleep 0.2
  done
  if kill -0 "$tool_pid" 2>/dev/null; then
    fail "installed tool still runs ${STOP_TIMEOUT_S} s after SIGTERM"
  else
    wait "$tool_pid"
    status=$?
    tool_pid=
    # 0: it shut down on the signal; 143: the signal's default action ended it.
    if [ "$status" -eq 0 ] || [ "$status" -eq 143 ]; then
      pass "installed tool ended on SIGTERM (exit status $status)"
    else
      fail "installed tool ended on SIGTERM with exit status $status"
    fi
  fi
elif kill -0 "$tool_pid" 2>/dev/null; then
  fail "installed tool printed no \"$STARTED_LINE\" within ${START_TIMEOUT_S} s"
else
  wait "$tool_pid"
  fail "installed tool ended (exit status $?) before printing \"$STARTED_LINE\""
  tool_pid=
fi
if [ "$failures" -gt "$failures_before_start" ]; then
  echo "-- its standard error:" >&2
  cat "$workdir/tool.stderr" >&2
fi

echo "== Removing"
apt_get remove -y -qq "$PACKAGE" >"$workdir/remove.log" 2>&1 ||
  { cat "$workdir/remove.log" >&2; abort "apt-get remove $PACKAGE"; }
check "package is no longer installed" not package_installed
for file in "${INSTALLED_FILES[@]}"; do
  check "removed $file" test ! -e "$file"
done
apt_get purge -y -qq "$PACKAGE" >"$workdir/purge.log" 2>&1 ||
  { cat "$workdir/purge.log" >&2; abort "apt-get purge $PACKAGE"; }
check "package is purged" not package_known_to_dpkg
installed_here=false

finish
