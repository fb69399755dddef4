#!/usr/bin/env bash
# Builds the Linux library and the host program, then runs the host against
# the library for a while (default 10 s): which game is online, its name, the
# game time frame and the tick period, once a second.
#
#   scripts/main-job.sh [seconds] [--controller | --multicast]
#
# --controller: the host also runs the serial link against a motion controller
# it emulates on a pseudo-terminal, and shows the link's state and the frames
# the controller received.
# --multicast (Linux, as root): the whole network road in network namespaces
# the host makes itself: a UDP game, the engine, the multicast sender from a
# veth adapter to an emulated network controller, which answers on the listen
# port; shows the cues, the frames the controller received and whether the
# listen thread is live.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux -j2 --target rezadedudid rez_host
seconds=10
extra=()
for arg in "$@"; do
    case "$arg" in
        --controller) extra+=(--controller) ;;
        --multicast) extra+=(--multicast) ;;
        *) seconds=$arg ;;
    esac
done
exec ./build/linux/rez_host --seconds "$seconds" "${extra[@]}"
