#!/usr/bin/env bash
# The DLL must export every function the public header declares, by its exact
# name, and import nothing but system DLLs (the C++ runtime is linked in).
set -euo pipefail
dll=${1:-build/windows/rezadedudid.dll}
header=${2:-include/rezadedudid.h}
dump=$(x86_64-w64-mingw32-objdump -p "$dll")
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | sed -n 's/^\s*\[ *[0-9]*\] //p')
status=0
for name in $(grep -oE '^REZ_API [^(]*[ *]([A-Za-z_][A-Za-z0-9_]*)\(' "$header" | sed -E 's/.*[ *]([A-Za-z_][A-Za-z0-9_]*)\($/\1/'); do
  if ! grep -qx "$name" <<<"$exports"; then echo "missing export: $name"; status=1; fi
done
# The class is checked member by member under the names mingw's GNU C++ ABI
# gives them; any name merely containing "WindSerial" would also match the C
# export initWindSerial.
if grep -q 'class REZ_API WindSerial' "$header"; then
  string='NSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE'
  while read -r member mangled; do
    if ! grep -qx "$mangled" <<<"$exports"; then echo "missing export: WindSerial::$member ($mangled)"; status=1; fi
  done <<EOF
WindSerial() _ZN10WindSerialC1Ev
~WindSerial() _ZN10WindSerialD1Ev
init _ZN10WindSerial4initERK${string}iS7_j
start _ZN10WindSerial5startEv
pause _ZN10WindSerial5pauseEv
unpause _ZN10WindSerial7unpauseEv
stop _ZN10WindSerial4stopEv
isRunning _ZNK10WindSerial9isRunningEv
isInit _ZNK10WindSerial6isInitEv
updateBuffer _ZN10WindSerial12updateBufferERKSt6vectorIhSaIhEE
EOF
fi
allowed='^(KERNEL32|msvcrt|WINMM|WS2_32|SETUPAPI|IPHLPAPI|SHELL32|ADVAPI32|USER32|ole32|OLEAUT32|api-ms-win-.*)\.dll$'
while read -r imported; do
  if ! grep -qiE "$allowed" <<<"$imported"; then echo "non-system import: $imported"; status=1; fi
done < <(sed -n 's/^\s*DLL Name: //p' <<<"$dump")
count=$(grep -c . <<<"$exports" || true)
if [ $status -eq 0 ]; then echo "DLL check: $count exports, system imports only"; fi
exit $status
