#!/usr/bin/env bash
# The whole road on one machine: builds the Linux library and the host
# program, then plays a simulated game (Assetto Corsa's shared memory, a
# scripted drive) into the engine, which sends its cue frames over the serial
# link to a motion controller emulated on a pseudo-terminal. Runs for 22 s
# (or the seconds given), sends the rig to rest, prints the summary (frames
# per second at the controller, frames lost or corrupted, tick jitter, game
# to frame latency) and plots the cues it sent to build/main-job/cues.png
# and .svg (the recording is build/main-job/recording.csv).
#
# 22 s is one whole lap of the default drive and a little more: the car
# lap lasts 20 s (away from standstill, the sweep and the bump, braking to a
# stop at 18 s), and the host takes a moment to find the game, so a shorter
# run would cut the braking and the stop off the plot.
#
#   scripts/main-job.sh [seconds] [--windows] [host options]
#
# Host options pass through, e.g. --game KEY, --drive NAME, --replay FILE.csv,
# --profile FILE, --transport emulated|serial:COMn|multicast|none
# (--controller and --multicast are accepted as before).
#
# --windows takes the product's own road instead: builds the Windows DLL and
# host, and runs rezadedudid-host.exe with the DLL under Wine in a prefix of
# its own (build/main-job/wine-prefix). The controller is emulated on the
# Linux side by rezadedudid-controller on a pseudo-terminal, which the prefix
# maps to COM8 and registers as a USB serial adapter (VID 1A86, PID 7523), so
# the DLL finds it through SetupAPI as it would a real one. The summary's
# controller figures come from that program's report; the recording, frame
# log and plot go to build/main-job/windows/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
seconds=22
if [[ $# -gt 0 && $1 =~ ^[0-9]+([.][0-9]+)?$ ]]; then
    seconds=$1
    shift
fi
windows=0
extra=()
for a in "$@"; do
    if [[ $a == --windows ]]; then windows=1; else extra+=("$a"); fi
done
cmake --preset linux >/dev/null

if (( ! windows )); then
    # The host plays the game in-process; rezadedudid-sim holds the game's
    # process name where detection looks for it.
    cmake --build --preset linux -j2 --target rezadedudid rezadedudid-host rezadedudid-sim
    out=build/main-job
    mkdir -p "$out"
    exec ./build/linux/rezadedudid-host --seconds "$seconds" --summary --record "$out/recording.csv" --plot "$out/cues" \
        ${extra[@]+"${extra[@]}"}
fi

cmake --build --preset linux -j2 --target rezadedudid-controller
cmake --preset windows >/dev/null
cmake --build --preset windows -j2 --target rezadedudid rezadedudid-host rezadedudid-sim com_device
root=$(pwd)
out=$root/build/main-job/windows
mkdir -p "$out"
wine=${WINE:-/usr/lib/wine/wine64}
wineserver=${WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver)}
export WINEPREFIX=$root/build/main-job/wine-prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
port=COM8
ports_key='HKLM\Software\Wine\Ports'
if [[ ! -f $WINEPREFIX/system.reg ]]; then
    echo "main-job: creating the Wine prefix $WINEPREFIX (once)"
    "$wine" wineboot -i >/dev/null 2>&1
    "$wineserver" -w
fi

# The controller keeps its terminal in a folder of its own, not the prefix's.
coproc CONTROLLER { exec env -u WINEPREFIX ./build/linux/rezadedudid-controller; }
controller_pid=$CONTROLLER_PID
controller_in=${CONTROLLER[1]}
cleanup() {
    "$wine" "$root/build/windows/com_device.exe" remove "$port" >/dev/null 2>&1 || true
    "$wine" reg delete "$ports_key" /v "$port" /f >/dev/null 2>&1 || true
    "$wineserver" -k >/dev/null 2>&1 || true
    # Closing its input ends the controller.
    exec {controller_in}>&- 2>/dev/null || true
    timeout 5 tail --pid="$controller_pid" -f /dev/null 2>/dev/null || kill "$controller_pid" 2>/dev/null || true
}
trap cleanup EXIT
device='' report=''
for _ in 1 2; do
    if ! read -r -t 10 key value <&"${CONTROLLER[0]}"; then
        echo "main-job: the emulated controller did not start" >&2
        exit 1
    fi
    case $key in device) device=$value ;; report) report=$value ;; esac
done
"$wine" reg add "$ports_key" /v "$port" /d "$device" /f >/dev/null
# Wine makes its COM devices from that key as the prefix starts.
"$wineserver" -k || true
"$wineserver" -w
"$wine" "$root/build/windows/com_device.exe" remove "$port" >/dev/null 2>&1 || true
"$wine" "$root/build/windows/com_device.exe" add "$port"
echo "main-job: $port is $device (the emulated controller, report on 127.0.0.1:$report)"

set +e
"$wine" "$root/build/windows/rezadedudid-host.exe" --seconds "$seconds" --summary \
    --transport "serial:$port" --controller-report "$report" --record "Z:$out/recording.csv" \
    ${extra[@]+"${extra[@]}"}
code=$?
set -e
if (( code == 0 )); then
    python3 python/plots.py recording "$out/recording.csv" --out "$out/cues"
    echo "plot: $out/cues.png and $out/cues.svg"
fi
exit $code
