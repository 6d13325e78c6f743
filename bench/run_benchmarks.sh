#!/usr/bin/env bash
# Measures what the upgrade tool itself costs, in one run (about 10 minutes):
# start-up, memory, idle polling, detection of a unit, and a complete upgrade
# against a virtual unit with realistic flash timing beside the bare dfu-util
# command sequence doing the same work. Not a test: nothing here passes or fails
# on a time; it prints a table of medians and spreads.
#
#   bench/run_benchmarks.sh [--build DIR] [--out DIR] [--quick]
#
#   --build DIR  build directory, configured here RelWithDebInfo with
#                UPDATER_BENCH=ON (default: build/bench)
#   --out DIR    where results go (default: DIR-of-build/bench-results/<time>)
#   --quick      fewer repetitions and 20 s instead of 60 s of idle polling
#
# Uses: python3, hyperfine, /usr/bin/time (package time), perf (package
# linux-perf, software events only where the machine has no hardware counters),
# Xvfb (optional: start-up and idle on a real X11 connection).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build/bench"
OUT=""
QUICK=0
while [ $# -gt 0 ]; do
  case $1 in
    --build) BUILD=$2; shift 2 ;;
    --out) OUT=$2; shift 2 ;;
    --quick) QUICK=1; shift ;;
    *) sed -n '2,17p' "${BASH_SOURCE[0]}" >&2; exit 2 ;;
  esac
done
OUT=${OUT:-"$(dirname "$BUILD")/bench-results/$(date +%Y%m%d-%H%M%S)"}
mkdir -p "$OUT"
OUT="$(cd "$OUT" && pwd)"

if [ $QUICK = 1 ]; then
  REPS_STARTUP=5; REPS_DETECT=5; REPS_UPGRADE=3; IDLE_SECONDS=20; HF_RUNS=15
else
  REPS_STARTUP=9; REPS_DETECT=7; REPS_UPGRADE=5; IDLE_SECONDS=60; HF_RUNS=40
fi

log() { printf '== %s\n' "$*" >&2; }
have() { command -v "$1" >/dev/null 2>&1; }

for tool in python3 hyperfine cmake ninja; do
  have "$tool" || { echo "run_benchmarks: $tool is missing" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "run_benchmarks: /usr/bin/time is missing (package time)" >&2; exit 1; }

log "Building in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUPDATER_BENCH=ON >/dev/null
ninja -C "$BUILD" -j2 lumarex-upgrade-tool upgrade_driver virtual_libusb virtual-unit >&2

TOOL="$BUILD/updater/software/lumarex-upgrade-tool"
DRIVER="$BUILD/bench/upgrade_driver"
VLIB="$BUILD/tests/virtual_unit/lib"
VUNIT="$BUILD/tests/virtual_unit/virtual-unit"
IMAGE="$BUILD/updater/software/generated/firmware.bin"
SIMULATOR="$ROOT/updater/simulator/dfu-util_simulator.sh"
DFU_UTIL=$(sed -n 's/^UPDATER_DFU_UTIL:FILEPATH=//p' "$BUILD/CMakeCache.txt")
BENCH="$ROOT/bench/bench.py"

# Scratch: simulator state, buses, the older image the upgrades start from.
WORK="$OUT/work"
rm -rf "$WORK"
mkdir -p "$WORK/sim" "$WORK/empty_bus" "$WORK/bus_detect" "$WORK/bus_upgrade" "$WORK/bus_bare" "$WORK/tmp"
export TMPDIR="$WORK/tmp"
python3 - "$IMAGE" "$WORK/old.bin" <<'EOF'
import sys
image = bytearray(open(sys.argv[1], "rb").read())
at = 0x200 + 40                      # revision field of the information block
end = image.index(0, at)
image[at:end] = b"2.3.9"[: end - at].ljust(end - at, b"0")
open(sys.argv[2], "wb").write(image)
EOF
new_unit() { "$VUNIT" create "$1/unit1" --serial 3574364C3034 --firmware "$WORK/old.bin" --otp-type 4 \
               --timing realistic "${@:2}" >/dev/null; }
new_unit "$WORK/bus_detect" --unplugged
new_unit "$WORK/bus_upgrade" --unplugged
new_unit "$WORK/bus_bare"

COMMON=(--tool "$TOOL" --simulator "$SIMULATOR" --sim-state "$WORK/sim" --virtual-lib "$VLIB"
        --virtual-unit "$VUNIT" --empty-bus "$WORK/empty_bus")

# ---------------------------------------------------------------- machine
PERF=0
if have perf && perf stat -e task-clock true >/dev/null 2>&1; then PERF=1; fi
HW_COUNTERS=no
if [ $PERF = 1 ] && perf stat -x, -e instructions true 2>&1 >/dev/null | grep -q '^[0-9]'; then HW_COUNTERS=yes; fi
{
  echo "date: $(date -Iseconds)"
  echo "commit: $(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo unknown)$(git -C "$ROOT" diff --quiet HEAD 2>/dev/null || echo ' (with uncommitted changes)')"
  echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "cpus: $(nproc) x $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1)"
  echo "kernel: $(uname -r)"
  echo "qt: $(dpkg-query -W -f='${Version}' libqt5core5a 2>/dev/null || echo unknown)"
  echo "dfu-util: $DFU_UTIL ($("$DFU_UTIL" -V | head -1))"
  echo "perf: $([ $PERF = 1 ] && echo "software events" || echo "not usable"); hardware counters: $HW_COUNTERS"
  echo "hyperfine: $(hyperfine --version)"
} >"$OUT/machine.txt"
cat "$OUT/machine.txt" >&2

# ---------------------------------------------------------------- one poll's child, alone
log "hyperfine: the commands every poll runs"
(
  export LD_LIBRARY_PATH="$VLIB" DFU_SIMULATOR_STATE_DIR="$WORK/sim"
  "$SIMULATOR" --dfu-util-command setup_prepared_config none >/dev/null
  "$VUNIT" plug "$WORK/bus_detect/unit1" >/dev/null
  # dfu-util does not overwrite an upload's file: remove it before every run.
  hyperfine -N --style basic -w 3 -r "$HF_RUNS" --prepare "rm -f $WORK/otp.bin" \
    --export-json "$OUT/hyperfine.json" \
    --export-markdown "$OUT/hyperfine.md" \
    -n "dfu-util -l, empty bus" "env VIRTUAL_DFU_UNITS=$WORK/empty_bus $DFU_UTIL -d 0483 -l" \
    -n "dfu-util -l, one unit" "env VIRTUAL_DFU_UNITS=$WORK/bus_detect $DFU_UTIL -d 0483 -l" \
    -n "dfu-util OTP upload (512 bytes)" \
       "env VIRTUAL_DFU_UNITS=$WORK/bus_detect $DFU_UTIL -d 0483 -a 2 -s 0x1FFF7800:512 -U $WORK/otp.bin" \
    -n "simulator list, no unit" "bash $SIMULATOR --dfu-util-command list -d 0483 -l" \
    -n "dfu-util -V (execution test)" "$DFU_UTIL -V" >&2
  "$VUNIT" unplug "$WORK/bus_detect/unit1" >/dev/null
  if [ $PERF = 1 ]; then
    for case in "empty_bus:$DFU_UTIL -d 0483 -l" "sim:bash $SIMULATOR --dfu-util-command list -d 0483 -l"; do
      name=${case%%:*}
      # shellcheck disable=SC2086
      env VIRTUAL_DFU_UNITS="$WORK/empty_bus" perf stat -r 20 -o "$OUT/perf_list_$name.txt" \
        -e task-clock,context-switches,page-faults,sched:sched_process_fork ${case#*:} >/dev/null
    done
  fi
)

# ---------------------------------------------------------------- start-up
log "start-up (offscreen), real mode and simulator"
python3 "$BENCH" startup --mode real --repetitions "$REPS_STARTUP" "${COMMON[@]}" --out "$OUT/startup_real.json"
python3 "$BENCH" startup --mode sim --repetitions "$REPS_STARTUP" "${COMMON[@]}" --out "$OUT/startup_sim.json"

XVFB_PID=""
cleanup() { [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true; }
trap cleanup EXIT
if have Xvfb; then
  for display in 97 98 99 100 101; do
    [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ] || break
  done
  Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >"$OUT/xvfb.log" 2>&1 &
  XVFB_PID=$!
  sleep 1
  log "start-up on X11 (Xvfb :$display), real mode"
  DISPLAY=":$display" python3 "$BENCH" startup --mode real --qpa xcb --repetitions "$REPS_STARTUP" "${COMMON[@]}" \
    --out "$OUT/startup_real_xcb.json"
  # The same with the OpenGL integration that the tool now turns off, for comparison.
  DISPLAY=":$display" QT_XCB_GL_INTEGRATION=xcb_glx python3 "$BENCH" startup --mode real --qpa xcb \
    --repetitions "$REPS_STARTUP" "${COMMON[@]}" --out "$OUT/startup_real_xcb_glx.json"
fi

log "start-up, $((IDLE_SECONDS / 6)) s of polling and shutdown under /usr/bin/time -v"
python3 "$BENCH" timev --mode real --seconds $((IDLE_SECONDS / 6)) "${COMMON[@]}" --out "$OUT/timev_real.json"

# ---------------------------------------------------------------- idle polling
PERF_FLAG=()
[ $PERF = 1 ] && PERF_FLAG=(--perf)
log "idle polling, ${IDLE_SECONDS} s each: real mode, simulator$([ -n "$XVFB_PID" ] && echo ', real mode on X11')"
python3 "$BENCH" idle --mode real --seconds "$IDLE_SECONDS" "${PERF_FLAG[@]}" "${COMMON[@]}" --out "$OUT/idle_real.json"
python3 "$BENCH" idle --mode sim --seconds "$IDLE_SECONDS" "${PERF_FLAG[@]}" "${COMMON[@]}" --out "$OUT/idle_sim.json"
if [ -n "$XVFB_PID" ]; then
  DISPLAY=":$display" python3 "$BENCH" idle --mode real --qpa xcb --seconds "$IDLE_SECONDS" "${PERF_FLAG[@]}" \
    "${COMMON[@]}" --out "$OUT/idle_real_xcb.json"
fi

# ---------------------------------------------------------------- detection
log "detection of a plugged unit, $REPS_DETECT times"
python3 "$BENCH" detect --bus "$WORK/bus_detect" --repetitions "$REPS_DETECT" "${COMMON[@]}" --out "$OUT/detect.json"

# ---------------------------------------------------------------- complete upgrade
log "complete upgrade with the tool (in-process driver), $REPS_UPGRADE times"
env QT_QPA_PLATFORM=offscreen QT_FONT_DPI=96 QT_LOGGING_RULES=default.debug=true \
  LD_LIBRARY_PATH="$VLIB" VIRTUAL_DFU_UNITS="$WORK/bus_upgrade" \
  "$DRIVER" --virtual-unit "$VUNIT" --unit "$WORK/bus_upgrade/unit1" --old-image "$WORK/old.bin" \
  --repetitions "$REPS_UPGRADE" --out "$OUT/upgrade_driver.json" >/dev/null 2>"$OUT/upgrade_driver.log"
python3 "$BENCH" upgrade-summary --driver-json "$OUT/upgrade_driver.json" --out "$OUT/upgrade.json"

log "the bare dfu-util sequence on the same kind of unit, $REPS_UPGRADE times"
python3 "$BENCH" bare --bus "$WORK/bus_bare" --dfu-util "$DFU_UTIL" --image "$IMAGE" --old-image "$WORK/old.bin" \
  --repetitions "$REPS_UPGRADE" "${COMMON[@]}" --out "$OUT/bare.json"

echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)" >>"$OUT/machine.txt"
python3 "$BENCH" report --dir "$OUT" >"$OUT/results.md"
{ cat "$OUT/machine.txt"; echo; cat "$OUT/results.md"; echo; cat "$OUT/hyperfine.md"; } | tee "$OUT/summary.md"
log "results in $OUT"
