#!/usr/bin/env bash
# Writes the fuzzers' starting corpus under fuzz/corpus/<fuzzer>/ (files named
# seed_*): the stand-ins' well-formed datagrams, blocks, server messages and
# controller replies (make_fuzz_seeds, Linux build), the filter strings the
# filter tests use, and a few SimConnect.cfg texts. Run it again when a
# format changes; the campaign adds what it finds beside the seeds.
#
#   scripts/fuzz-seeds.sh [linux-build-dir]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build/linux}"
corpus="$root/fuzz/corpus"
mkdir -p "$corpus"
if [[ ! -x "$build/make_fuzz_seeds" ]]; then
    echo "fuzz-seeds: build make_fuzz_seeds first (cmake --build --preset linux --target make_fuzz_seeds)" >&2
    exit 2
fi
# The stand-ins make their blocks under the games' names: keep them off the
# machine's own shared memory when unshare is allowed.
if unshare --help 2>/dev/null | grep -q -- --mount && [[ $(id -u) == 0 ]]; then
    unshare --mount --propagation private sh -c "mount -t tmpfs tmpfs /dev/shm && '$build/make_fuzz_seeds' '$corpus'"
else
    "$build/make_fuzz_seeds" "$corpus"
fi

# Filter strings: every quoted chain the filter tests feed the parser.
mkdir -p "$corpus/fuzz_filter_string"
n=0
while IFS= read -r text; do
    printf '%s' "$text" > "$corpus/fuzz_filter_string/seed_$(printf '%03d' $n)"
    n=$((n + 1))
done < <(grep -rhoE '"[A-Z]+\([^"]*\)[^"]*"' "$root/tests/filters" | sed 's/^"//; s/"$//' | sort -u)
echo "fuzz-seeds: $n filter strings"

# SimConnect.cfg: the first byte picks the section (low two bits) and where
# the text is cut into two files (the rest).
mkdir -p "$corpus/fuzz_simconnect_cfg"
printf '\x80[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=500\nMaxReceiveSize=41088\nDisableNagle=1\n' \
    > "$corpus/fuzz_simconnect_cfg/seed_ipv4"
printf '\x41; comment\n[SimConnect.1]\nprotocol = "Pipe"\nport = Custom/SimConnect\n[SimConnect]\nProtocol=Auto\n' \
    > "$corpus/fuzz_simconnect_cfg/seed_pipe"
printf '\xfe[SimConnect.2]\nProtocol=IPv6\nAddress=::1\nMaxReceiveSize=4000000000\n' \
    > "$corpus/fuzz_simconnect_cfg/seed_ipv6"
# Profile files: the shipped example and every profile the host tests hold.
mkdir -p "$corpus/fuzz_profile"
cp "$root/profiles/example.profile" "$corpus/fuzz_profile/seed_example"
echo "fuzz-seeds: corpus under $corpus"
