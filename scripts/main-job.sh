#!/usr/bin/env bash
# Builds the Linux library and the host program, then runs the host against
# the library for a while (default 10 s): which game is online, its name, the
# game time frame and the tick period, once a second.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux -j2 --target rezadedudid rez_host
exec ./build/linux/rez_host --seconds "${1:-10}"
