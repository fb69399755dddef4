#!/usr/bin/env bash
# The soak: the engine at 500 Hz on a simulated game, every cue frame to an
# emulated controller, a host polling every getter, for a given time; first
# over the serial link, then over the multicast sender (that half needs root
# for its network namespace and is skipped otherwise).
#
#   scripts/soak.sh [seconds] [serial|multicast|both] [build folder]
#
# Exits non-zero when a target is missed in either run (see bench/soak.cpp).
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
which=${2:-both}
dir=${3:-build/linux}
if [ ! -x "$dir/soak" ]; then
  cmake --preset linux >/dev/null && cmake --build --preset linux -j "${REZ_JOBS:-2}" --target soak || exit 2
fi
# The network code logs to the Documents folder; keep that log out of the home folder.
documents=$(mktemp -d)
trap 'rm -rf "$documents"' EXIT
export REZ_DOCUMENTS_DIR=$documents
echo "soak on $(nproc) CPUs, $(date -u '+%Y-%m-%d %H:%M UTC'), load average $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
for transport in serial multicast; do
  [ "$which" = both ] || [ "$which" = "$transport" ] || continue
  "$dir/soak" "$transport" "$seconds" || status=1
done
exit $status
