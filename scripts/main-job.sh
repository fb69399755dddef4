#!/usr/bin/env bash
# The whole road on one machine: builds the Linux library and the host
# program, then plays a simulated game (Assetto Corsa's shared memory, a
# scripted drive) into the engine, which sends its cue frames over the serial
# link to a motion controller emulated on a pseudo-terminal. Runs for 10 s
# (or the seconds given), sends the rig to rest, prints the summary (frames
# per second at the controller, frames lost or corrupted, tick jitter, game
# to frame latency) and plots the cues it sent to build/main-job/cues.png
# and .svg (the recording is build/main-job/recording.csv).
#
#   scripts/main-job.sh [seconds] [host options]
#
# Host options pass through, e.g. --game KEY, --drive NAME, --replay FILE.csv,
# --profile FILE, --transport emulated|serial:COMn|multicast|none
# (--controller and --multicast are accepted as before).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset linux >/dev/null
# The host plays the game in-process; rezadedudid-sim holds the game's
# process name where detection looks for it.
cmake --build --preset linux -j2 --target rezadedudid rezadedudid-host rezadedudid-sim
seconds=10
extra=()
if [[ $# -gt 0 && $1 =~ ^[0-9]+([.][0-9]+)?$ ]]; then
    seconds=$1
    shift
fi
extra=("$@")
out=build/main-job
mkdir -p "$out"
exec ./build/linux/rezadedudid-host --seconds "$seconds" --summary --record "$out/recording.csv" --plot "$out/cues" \
    "${extra[@]}"
