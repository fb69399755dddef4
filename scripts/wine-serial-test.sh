#!/usr/bin/env bash
# Runs the Windows fan-port and serial-port tests under Wine on a real line:
# two COM ports joined like a null-modem cable by pseudo-terminals.
#
#   scripts/wine-serial-test.sh [linux-build-dir] [windows-build-dir] [gtest arguments...]
#
# The null_modem helper (Linux build) makes two pseudo-terminals and links
# them as com41 and com42 in a Wine prefix of their own. Wine lists a COM
# port as a DOS device only when it is registered under
# HKLM\Software\Wine\Ports as its prefix starts, so the ports are registered
# and the prefix restarted before test_wind.exe runs with
# REZ_TEST_SERIAL_PAIR=COM41,COM42. The shared ~/.wine is never touched.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# Wine wants absolute paths (its prefix above all).
linux_build="$(realpath -m "${1:-$root/build/linux}")"
windows_build="$(realpath -m "${2:-$root/build/windows}")"
shift $(( $# > 2 ? 2 : $# ))

helper="$linux_build/null_modem"
test_exe="$windows_build/test_wind.exe"
wine="${WINE:-/usr/lib/wine/wine64}"
wineserver="${WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver)}"
for needed in "$helper" "$test_exe" "$wine"; do
    if [[ ! -x "$needed" ]]; then
        echo "wine-serial-test: missing $needed (build the Linux and Windows targets first)" >&2
        exit 2
    fi
done

export WINEPREFIX="${REZ_SERIAL_WINEPREFIX:-$windows_build/wine-serial-prefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
ports_key='HKLM\Software\Wine\Ports'

if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
    echo "wine-serial-test: creating the Wine prefix $WINEPREFIX"
    "$wine" wineboot -i >/dev/null 2>&1
    "$wineserver" -w
fi

coproc MODEM { exec "$helper" "$WINEPREFIX/dosdevices" COM41 COM42; }
modem_pid=$MODEM_PID
modem_in=${MODEM[1]}

cleanup() {
    "$wine" reg delete "$ports_key" /v COM41 /f >/dev/null 2>&1 || true
    "$wine" reg delete "$ports_key" /v COM42 /f >/dev/null 2>&1 || true
    "$wineserver" -k >/dev/null 2>&1 || true
    # Closing its input ends the helper, which removes its links.
    exec {modem_in}>&- 2>/dev/null || true
    if ! timeout 5 tail --pid="$modem_pid" -f /dev/null 2>/dev/null; then
        kill "$modem_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT

declare -A device
for _ in 1 2; do
    if ! read -r -t 10 name path <&"${MODEM[0]}"; then
        echo "wine-serial-test: the null_modem helper did not start" >&2
        exit 1
    fi
    device[$name]=$path
done

"$wine" reg add "$ports_key" /v COM41 /d "${device[COM41]}" /f >/dev/null
"$wine" reg add "$ports_key" /v COM42 /d "${device[COM42]}" /f >/dev/null
# The ports become DOS devices when the prefix starts again.
"$wineserver" -k
"$wineserver" -w

echo "wine-serial-test: COM41 -> ${device[COM41]}, COM42 -> ${device[COM42]}"
set +e
REZ_TEST_SERIAL_PAIR=COM41,COM42 "$wine" "$test_exe" "$@"
status=$?
set -e
exit $status
