#!/usr/bin/env bash
# Installs the built library of each target into a temporary prefix and builds
# the consumer in packaging/consumer against it, as a user's project would:
# Linux through find_package and through pkg-config, Windows through
# find_package with the mingw toolchain (run under Wine). Each consumer must
# print "consumer: ok". The builds (build/linux, build/windows) must exist.
#   scripts/package-test.sh [linux] [windows]     (default: both)
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(linux windows)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export REZ_DOCUMENTS_DIR=$work   # the library's log, out of the user's Documents
export WINEDEBUG=-all
status=0

fail() { echo "package $1: FAILED: $2"; status=1; }

need_files() {  # need_files TARGET PREFIX FILE...
  local target=$1 prefix=$2 missing=0; shift 2
  for f in "$@"; do
    [ -f "$prefix/$f" ] || { fail "$target" "not installed: $f"; missing=1; }
  done
  return $missing
}

consumer() {  # consumer TARGET NAME RUNNER CMAKE-ARGS...
  local target=$1 name=$2 runner=$3; shift 3
  local dir=$work/$target-$name out
  if ! out=$(cmake -S packaging/consumer -B "$dir" -G Ninja "$@" 2>&1 && cmake --build "$dir" 2>&1); then
    echo "$out" | tail -20; fail "$target" "consumer ($name) does not build"; return
  fi
  [ "$target" = windows ] && cp "$prefix/bin/rezadedudid.dll" "$dir/"
  if ! out=$($runner "$dir/consumer$exe" 2>&1) || ! grep -q '^consumer: ok' <<<"$out"; then
    echo "$out" | tail -20; fail "$target" "consumer ($name) did not report ok"; return
  fi
  echo "package $target: consumer ($name): ok"
}

for target in "${targets[@]}"; do
  build=build/$target
  if [ ! -f "$build/CMakeCache.txt" ]; then fail "$target" "$build is not configured (cmake --preset $target)"; continue; fi
  prefix=$work/$target-prefix
  if ! out=$(cmake --install "$build" --prefix "$prefix" 2>&1); then
    echo "$out" | tail -20; fail "$target" "cmake --install $build"; continue
  fi
  common=(include/rezadedudid.h lib/cmake/rezadedudid/rezadedudidConfig.cmake
          lib/cmake/rezadedudid/rezadedudidConfigVersion.cmake lib/pkgconfig/rezadedudid.pc)
  case $target in
    linux)
      exe=""
      need_files linux "$prefix" "${common[@]}" lib/librezadedudid.so || continue
      consumer linux find_package "" -DCMAKE_PREFIX_PATH="$prefix"
      PKG_CONFIG_PATH=$prefix/lib/pkgconfig consumer linux pkg-config "" -DREZ_USE_PKGCONFIG=ON
      ;;
    windows)
      exe=.exe
      need_files windows "$prefix" "${common[@]}" bin/rezadedudid.dll lib/librezadedudid.dll.a lib/rezadedudid.def || continue
      # The .def file must name exactly the C functions the DLL exports.
      def=$(sed -n 's/^    //p' "$prefix/lib/rezadedudid.def" | sort)
      dll=$(x86_64-w64-mingw32-objdump -p "$prefix/bin/rezadedudid.dll" |
            sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^\s*\[ *[0-9]*\] //p' | grep -v '^_Z' | sort)
      if [ "$def" != "$dll" ]; then
        diff <(echo "$def") <(echo "$dll") | head -20; fail windows ".def file and DLL exports differ"
      else
        echo "package windows: .def lists the DLL's $(grep -c . <<<"$def") C exports: ok"
      fi
      consumer windows find_package "$root/scripts/wine-run.sh" \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_PREFIX_PATH="$prefix"
      ;;
    *) fail "$target" "unknown target (linux or windows)" ;;
  esac
done
[ $status -eq 0 ] && echo "package test: ok (${targets[*]})"
exit $status
