#!/usr/bin/env bash
# Runs the Windows build's multicast sender and listener tests under Wine on
# network adapters of their own: a network namespace with two veth links,
# whose far ends are in a second namespace where a group member reports each
# datagram with the link it came in on.
#
#   scripts/wine-network-test.sh [linux-build-dir] [windows-build-dir] [gtest arguments...]
#   scripts/wine-network-test.sh [linux-build-dir] [windows-build-dir] --run PROGRAM.exe [arguments...]
#
# --run runs a program of the Windows build folder in that network instead of
# the tests, e.g. the host on the multicast road:
#   scripts/wine-network-test.sh build/linux build/windows --run rezadedudid-host.exe \
#       --transport multicast --seconds 60 --summary
#
# The links (tests/udp_transport knows them):
#   rez0  10.9.0.1/24, route metric 5   <->  rez0-far  10.9.0.2/24
#   rez1  10.8.0.1/24, route metric 25  <->  rez1-far  10.8.0.2/24
# and the multicast groups are routed by rez1, so that the sender's frames
# come in on rez0-far only when it chose rez0 and sends its multicast there.
# The member is the multicast_far_end helper (Linux build). It runs in the
# Windows program's namespace, joins the groups in the far one, and answers
# the tests on a TCP port of the loopback there, passed to them as
# REZ_TEST_MULTICAST_FAR_END.
#
# A Windows program's sockets and adapters are those of its Wine server's
# namespace, so the tests get a Wine prefix of their own (made once, under
# the Windows build folder) whose server is ended before the run and after
# it, and is started inside the namespace. After the tests the links go down
# and the sender's test for a machine without a wired adapter runs.
# The namespaces go whichever way the script ends.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# Wine wants absolute paths (its prefix above all).
linux_build="$(realpath -m "${1:-$root/build/linux}")"
windows_build="$(realpath -m "${2:-$root/build/windows}")"
shift $(( $# > 2 ? 2 : $# ))

helper="$linux_build/multicast_far_end"
test_exe="$windows_build/test_udp_transport.exe"
wine="${WINE:-/usr/lib/wine/wine64}"
wineserver="${WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver)}"
for needed in "$helper" "$test_exe" "$wine"; do
    if [[ ! -x "$needed" ]]; then
        echo "wine-network-test: missing $needed (build the Linux and Windows targets first)" >&2
        exit 2
    fi
done

export WINEPREFIX="${REZ_NETWORK_WINEPREFIX:-$windows_build/wine-network-prefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
host_ns="rez-wine-net-$$"
far_ns="rez-wine-far-$$"
far_pid=""

cleanup() {
    "$wineserver" -k >/dev/null 2>&1 || true
    if [[ -n "$far_pid" ]]; then
        # Closing its input ends the helper.
        exec {far_in}>&- 2>/dev/null || true
        if ! timeout 5 tail --pid="$far_pid" -f /dev/null 2>/dev/null; then
            kill "$far_pid" 2>/dev/null || true
        fi
    fi
    ip netns del "$host_ns" 2>/dev/null || true
    ip netns del "$far_ns" 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# A server of this prefix started elsewhere would give the tests its network.
"$wineserver" -k >/dev/null 2>&1 || true

ip netns add "$host_ns"
ip netns add "$far_ns"
in_host() { ip netns exec "$host_ns" "$@"; }
for ns in "$host_ns" "$far_ns"; do
    # A frame that leaves by the wrong link must still be seen, and the
    # listener's test sends from the other subnet on purpose.
    ip netns exec "$ns" sysctl -qw net.ipv4.conf.all.rp_filter=0 net.ipv4.conf.default.rp_filter=0
    ip -n "$ns" link set lo up
done
ip -n "$host_ns" link add rez0 type veth peer name rez0-far netns "$far_ns"
ip -n "$host_ns" link add rez1 type veth peer name rez1-far netns "$far_ns"
ip -n "$host_ns" addr add 10.9.0.1/24 dev rez0 metric 5
ip -n "$host_ns" addr add 10.8.0.1/24 dev rez1 metric 25
ip -n "$far_ns" addr add 10.9.0.2/24 dev rez0-far
ip -n "$far_ns" addr add 10.8.0.2/24 dev rez1-far
for link in rez0 rez1; do ip -n "$host_ns" link set "$link" up; done
for link in rez0-far rez1-far; do ip -n "$far_ns" link set "$link" up; done
ip -n "$host_ns" route add 224.0.0.0/4 dev rez1 metric 30

# A link counts as up once the kernel has seen its carrier, a while after
# both ends are up.
deadline=$((SECONDS + 20))
until [[ "$(ip -n "$host_ns" -o link show up | grep -c 'state UP')" == 2 ]]; do
    if (( SECONDS > deadline )); then
        echo "wine-network-test: the links never came up" >&2
        ip -n "$host_ns" link >&2
        exit 1
    fi
    sleep 0.05
done

# Kept up from here to the end, inside the namespace: a server that ended
# between the runs below would cost the second the start of Wine's services
# again.
mkdir -p "$WINEPREFIX"
in_host "$wineserver" -p

# The mark goes on last, so a making that was cut short is done again.
if [[ ! -f "$WINEPREFIX/.rez-made" ]]; then
    echo "wine-network-test: making the Wine prefix $WINEPREFIX"
    if ! in_host "$wine" wineboot -i >/dev/null 2>&1; then
        echo "wine-network-test: wineboot could not make the prefix" >&2
        exit 1
    fi
    touch "$WINEPREFIX/.rez-made"
fi

coproc FAR { exec ip netns exec "$host_ns" "$helper" "/run/netns/$far_ns" 10.9.0.2 10.8.0.2; }
far_pid=$FAR_PID
far_in=${FAR[1]}
if ! read -r -t 10 word control_port <&"${FAR[0]}" || [[ "$word" != control ]]; then
    echo "wine-network-test: the multicast_far_end helper did not start" >&2
    exit 1
fi
echo "wine-network-test: member on rez0-far and rez1-far, asked on 127.0.0.1:$control_port in $host_ns"

cd "$windows_build"
if [[ "${1:-}" == --run ]]; then
    program=$2
    shift 2
    set +e
    REZ_TEST_MULTICAST_FAR_END="$control_port" in_host "$wine" "$windows_build/$program" "$@"
    result=$?
    set -e
    exit $result
fi
status=0
set +e
REZ_TEST_MULTICAST_FAR_END="$control_port" in_host "$wine" "$test_exe" \
    --gtest_filter=-MulticastSender.EndsWithUdpEndedWhenNoWiredAdapterIsUp "$@"
result=$?
set -e
if (( result != 0 )); then
    echo "wine-network-test: $(basename "$test_exe") failed ($result)" >&2
    status=$result
fi

echo "wine-network-test: rez0 and rez1 down"
ip -n "$host_ns" link set rez0 down
ip -n "$host_ns" link set rez1 down
set +e
in_host "$wine" "$test_exe" --gtest_filter=MulticastSender.EndsWithUdpEndedWhenNoWiredAdapterIsUp
result=$?
set -e
if (( result != 0 )); then
    echo "wine-network-test: $(basename "$test_exe") without wired adapters failed ($result)" >&2
    status=$result
fi
exit $status
