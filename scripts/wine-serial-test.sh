#!/usr/bin/env bash
# Runs the Windows tests that need a serial line under Wine on a real one:
# two COM ports joined like a null-modem cable by pseudo-terminals. The test
# programs are test_wind.exe, test_controller.exe, test_link.exe and the
# unplug tests of test_faults.exe (ControllerUnplug, FanVanish); each gets the same
# gtest arguments, and the script fails when any of them fails.
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
#
# The near port, COM8, gets a CH340 USB serial adapter in the prefix's device
# list (the com_device helper of the Windows build), so the library's port
# scan and USB identity check accept it through SetupAPI as they would a
# controller plugged into a Windows machine. The helper's third port, COM5,
# takes commands that pull the near port's device out and plug one in again
# (REZ_TEST_SERIAL_CONTROL); it is not registered, so no port scan sees it.
# A controller that vanishes comes back on COM7 (REZ_TEST_SERIAL_SPARE), which
# is registered with no device behind it yet, since Wine lists only the ports
# registered as the prefix starts; a link to a pseudo-terminal is enough for
# Wine to open a port, so the helper makes one when the test asks.
# The tests run in the Windows build folder, where they find their helpers.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# Wine wants absolute paths (its prefix above all).
linux_build="$(realpath -m "${1:-$root/build/linux}")"
windows_build="$(realpath -m "${2:-$root/build/windows}")"
shift $(( $# > 2 ? 2 : $# ))

helper="$linux_build/null_modem"
com_device="$windows_build/com_device.exe"
test_exes=("$windows_build/test_wind.exe" "$windows_build/test_controller.exe" "$windows_build/test_link.exe"
           "$windows_build/test_faults.exe")
# Only these of the fault suite need the line; the rest run in plain ctest.
faults_filter='--gtest_filter=ControllerUnplug.*:FanVanish.*'
wine="${WINE:-/usr/lib/wine/wine64}"
wineserver="${WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver)}"
for needed in "$helper" "$com_device" "${test_exes[@]}" "$wine"; do
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
spare=COM7
control=COM5
coproc MODEM { exec "$helper" "$WINEPREFIX/dosdevices" "$near" "$far" "$control"; }
modem_pid=$MODEM_PID
modem_in=${MODEM[1]}

cleanup() {
    "$wine" "$com_device" remove "$near" "$spare" >/dev/null 2>&1 || true
    for port in "$near" "$far" "$spare"; do
        "$wine" reg delete "$ports_key" /v "$port" /f >/dev/null 2>&1 || true
    done
    "$wineserver" -k >/dev/null 2>&1 || true
    # Closing its input ends the helper, which removes its links.
    exec {modem_in}>&- 2>/dev/null || true
    if ! timeout 5 tail --pid="$modem_pid" -f /dev/null 2>/dev/null; then
        kill "$modem_pid" 2>/dev/null || true
    fi
    # The spare's link, made by Wine as the prefix started and pointing nowhere.
    if [[ ! -e "$WINEPREFIX/dosdevices/${spare,,}" ]]; then rm -f "$WINEPREFIX/dosdevices/${spare,,}"; fi
}
trap cleanup EXIT

declare -A device
for _ in 1 2 3; do
    if ! read -r -t 10 name path <&"${MODEM[0]}"; then
        echo "wine-serial-test: the null_modem helper did not start" >&2
        exit 1
    fi
    device[$name]=$path
done

"$wine" reg add "$ports_key" /v "$near" /d "${device[$near]}" /f >/dev/null
"$wine" reg add "$ports_key" /v "$far" /d "${device[$far]}" /f >/dev/null
"$wine" reg add "$ports_key" /v "$spare" /d "$WINEPREFIX/unplugged-$spare" /f >/dev/null
# The ports become DOS devices when the prefix starts again.
"$wineserver" -k
"$wineserver" -w
# A device a run cut short left on the spare goes too.
"$wine" "$com_device" remove "$spare"
"$wine" "$com_device" add "$near"
export REZ_TEST_SERIAL_SPARE="$spare" REZ_TEST_SERIAL_CONTROL="$control"

echo "wine-serial-test: $near -> ${device[$near]} (a CH340 adapter), $far -> ${device[$far]}, helper commands on $control"
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
    filter=()
    [[ "$test_exe" == */test_faults.exe ]] && filter=("$faults_filter")
    set +e
    REZ_TEST_SERIAL_PAIR="$near,$far" "$wine" "$test_exe" "${filter[@]}" "$@"
    result=$?
    set -e
    if (( result != 0 )); then
        echo "wine-serial-test: $(basename "$test_exe") failed ($result)" >&2
        status=$result
    fi
done
exit $status
