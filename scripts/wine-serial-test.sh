#!/usr/bin/env bash
# Runs the Windows tests that need a serial line under Wine on a real one:
# two COM ports joined like a null-modem cable by pseudo-terminals. The test
# programs are test_wind.exe, test_controller.exe and, once it is built,
# test_link.exe; each gets the same gtest arguments, and the script fails
# when any of them fails.
#
#   scripts/wine-serial-test.sh [linux-build-dir] [windows-build-dir] [gtest arguments...]
#
# The null_modem helper (Linux build) makes two pseudo-terminals and links
# them as com8 and com9 in a Wine prefix of their own. Wine lists a COM
# port as a DOS device only when it is registered under
# HKLM\Software\Wine\Ports as its prefix starts, so the ports are registered
# and the prefix restarted before the tests run with
# REZ_TEST_SERIAL_PAIR=COM8,COM9. The shared ~/.wine is never touched.
# The numbers stay below 10 because Wine's GetDefaultCommConfig knows COM1 to
# COM9 only (ERROR_BADKEY for the rest), and the controller port asks for it.
# The tests run in the Windows build folder, where they find their helpers.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# Wine wants absolute paths (its prefix above all).
linux_build="$(realpath -m "${1:-$root/build/linux}")"
windows_build="$(realpath -m "${2:-$root/build/windows}")"
shift $(( $# > 2 ? 2 : $# ))

helper="$linux_build/null_modem"
test_exes=("$windows_build/test_wind.exe" "$windows_build/test_controller.exe")
# The serial link's own suite, when this tree has it.
if [[ -f "$windows_build/test_link.exe" ]]; then
    test_exes+=("$windows_build/test_link.exe")
fi
wine="${WINE:-/usr/lib/wine/wine64}"
wineserver="${WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver)}"
for needed in "$helper" "${test_exes[@]}" "$wine"; do
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

near=COM8
far=COM9
coproc MODEM { exec "$helper" "$WINEPREFIX/dosdevices" "$near" "$far"; }
modem_pid=$MODEM_PID
modem_in=${MODEM[1]}

cleanup() {
    "$wine" reg delete "$ports_key" /v "$near" /f >/dev/null 2>&1 || true
    "$wine" reg delete "$ports_key" /v "$far" /f >/dev/null 2>&1 || true
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

"$wine" reg add "$ports_key" /v "$near" /d "${device[$near]}" /f >/dev/null
"$wine" reg add "$ports_key" /v "$far" /d "${device[$far]}" /f >/dev/null
# The ports become DOS devices when the prefix starts again.
"$wineserver" -k
"$wineserver" -w

echo "wine-serial-test: $near -> ${device[$near]}, $far -> ${device[$far]}"
cd "$windows_build"
status=0
# Wine cannot put 250000 baud on a pseudo-terminal (it reads back as 38400),
# so the rate the controller port asks for is taken from Wine's own trace:
# the last rate request of the test (the far end's comes before it) must be
# followed by Wine's warning about a non-standard 250000.
echo "wine-serial-test: openControllerPort asks for 250000 baud"
set +e
trace="$(REZ_TEST_SERIAL_PAIR="$near,$far" WINEDEBUG=+comm "$wine" "$windows_build/test_controller.exe" \
    --gtest_filter=ControllerPort.OpensTheLineForTheController 2>&1)"
result=$?
set -e
last_rate="$(grep -E "IOCTL_SERIAL_SET_BAUD_RATE|non-standard baud rate" <<<"$trace" | tail -n 2 | sed 's/^[0-9a-f]*://')"
if (( result != 0 )) || ! grep -q "^\[  PASSED  \] 1 test" <<<"$trace" \
    || [[ "$(head -n 1 <<<"$last_rate")" != *IOCTL_SERIAL_SET_BAUD_RATE* ]] \
    || [[ "$(tail -n 1 <<<"$last_rate")" != *"non-standard baud rate 250000."* ]]; then
    grep -vE ":trace:|get_hand_flow" <<<"$trace" >&2
    echo "wine-serial-test: the controller port did not ask for 250000 baud; last requests:" >&2
    echo "$last_rate" >&2
    status=1
fi

for test_exe in "${test_exes[@]}"; do
    echo "wine-serial-test: running $(basename "$test_exe")"
    set +e
    REZ_TEST_SERIAL_PAIR="$near,$far" "$wine" "$test_exe" "$@"
    result=$?
    set -e
    if (( result != 0 )); then
        echo "wine-serial-test: $(basename "$test_exe") failed ($result)" >&2
        status=$result
    fi
done
exit $status
