#!/usr/bin/env bash
# Tests check-dll-exports.sh: it must pass the built DLL and fail copies whose
# export table lacks the WindSerial class, or one member of it, while the C
# export initWindSerial is still there.
#
#   scripts/test-check-dll-exports.sh [path/to/rezadedudid.dll]
#
# A copy loses names by having them overwritten in place with as many other
# bytes, so its export table stays well formed.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dll=${1:-$root/build/windows/rezadedudid.dll}
if [[ ! -f "$dll" ]]; then
  echo "test-check-dll-exports: missing $dll (build the windows preset first)" >&2
  exit 2
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$root"

failures=0
# case NAME EXPECTED-STATUS EXPECTED-TEXT SED-EXPRESSION
case_() {
  local name=$1 want=$2 text=$3 edit=$4 copy="$tmp/$1.dll" out got
  LC_ALL=C sed "$edit" "$dll" >"$copy"
  out=$(bash scripts/check-dll-exports.sh "$copy" include/rezadedudid.h 2>&1)
  got=$?
  if [[ $got -ne $want ]] || ! grep -qF -- "$text" <<<"$out"; then
    echo "FAIL $name: status $got (want $want), output:"; echo "$out" | sed 's/^/    /'
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

case_ real-dll 0 "system imports only" 's/^$//'
case_ no-class 1 "missing export: WindSerial::updateBuffer" 's/10WindSerial/10WindSeriaQ/g'
case_ no-updateBuffer 1 "missing export: WindSerial::updateBuffer" 's/12updateBufferERK/12updateBuffeQERK/g'
case_ no-initWindSerial 1 "missing export: initWindSerial" 's/initWindSerial/initWindSeriaQ/g'

# The renamed copies must still carry the C export, or they would not show
# that the class is checked apart from it.
LC_ALL=C sed 's/10WindSerial/10WindSeriaQ/g' "$dll" >"$tmp/class-only.dll"
names=$(x86_64-w64-mingw32-objdump -p "$tmp/class-only.dll")
if ! grep -q '\] initWindSerial$' <<<"$names"; then
  echo "FAIL no-class copy lost initWindSerial"; failures=$((failures + 1))
fi

if [[ $failures -ne 0 ]]; then echo "$failures case(s) failed"; exit 1; fi
echo "export check: all cases pass"
