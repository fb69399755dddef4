#!/usr/bin/env bash
# Installs the built library of each target into a temporary prefix and uses
# it as a user's project would. Linux: the library must carry a versioned
# soname with the links librezadedudid.so -> soname -> the file, be stripped,
# and name its kept symbols (installed beside it, with the same build id) in
# its debug link; the consumer in packaging/consumer is built through
# find_package, through pkg-config in CMake and with the command line of
# docs/package.md (cc main.c $(pkg-config --cflags --libs rezadedudid)), and
# each is run without LD_LIBRARY_PATH. Windows: the consumer is built through
# find_package with the mingw toolchain and run under Wine. Each consumer must
# print "consumer: ok".
#   scripts/package-test.sh [TARGET[:BUILD-DIR]]...
# TARGET is linux or windows (default: both); BUILD-DIR defaults to
# build/TARGET and must be configured and built.
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

run_consumer() {  # run_consumer TARGET NAME RUNNER PROGRAM: it must say "consumer: ok"
  local out
  if ! out=$($3 "$4" 2>&1) || ! grep -q '^consumer: ok' <<<"$out"; then
    echo "$out" | tail -20; fail "$1" "consumer ($2) did not report ok"; return
  fi
  echo "package $1: consumer ($2): ok"
}

consumer() {  # consumer TARGET NAME RUNNER CMAKE-ARGS...
  local target=$1 name=$2 runner=$3; shift 3
  local dir=$work/$target-$name out
  if ! out=$(cmake -S packaging/consumer -B "$dir" -G Ninja "$@" 2>&1 && cmake --build "$dir" 2>&1); then
    echo "$out" | tail -20; fail "$target" "consumer ($name) does not build"; return
  fi
  [ "$target" = windows ] && cp "$prefix/bin/rezadedudid.dll" "$dir/"
  run_consumer "$target" "$name" "$runner" "$dir/consumer$exe"
}

# The pkg-config line a user types (docs/package.md); the program must then
# find the library by itself.
command_line_consumer() {  # command_line_consumer PREFIX
  local out
  # shellcheck disable=SC2086  # the flags are words
  if ! out=$({ flags=$(PKG_CONFIG_PATH=$1/lib/pkgconfig pkg-config --cflags --libs rezadedudid) &&
               cc packaging/consumer/main.c $flags -o "$work/consumer-cc"; } 2>&1); then
    echo "$out" | tail -20; fail linux "consumer (cc with pkg-config) does not build"; return
  fi
  run_consumer linux "cc \$(pkg-config --cflags --libs rezadedudid)" "env -u LD_LIBRARY_PATH" "$work/consumer-cc"
}

# The soname, its links, and the stripped library with its symbols aside.
check_linux_library() {  # check_linux_library PREFIX
  local lib=$1/lib soname file name kept
  soname=$(readelf -d "$lib/librezadedudid.so" | sed -n 's/.*Library soname: \[\(.*\)\]$/\1/p')
  file=$(readlink -f "$lib/librezadedudid.so")
  name=$(basename "$file")
  if [[ $soname != librezadedudid.so.[0-9]* || $(readlink "$lib/librezadedudid.so") != "$soname" ||
        $(readlink "$lib/$soname") != "$name" || $name != "$soname".* ]]; then
    fail linux "soname '${soname:-none}': not the links librezadedudid.so -> librezadedudid.so.N -> librezadedudid.so.N.M.P"
    return
  fi
  echo "package linux: soname $soname, librezadedudid.so -> $soname -> $name: ok"
  # gdb takes the file the debug link names if it lies beside the library;
  # the build ids say that it was split from this very library.
  kept=$(readelf --string-dump=.gnu_debuglink "$file" 2>/dev/null | sed -n 's/^ *\[ *0\] *//p')
  build_id() { readelf -n "$1" 2>/dev/null | sed -n 's/.*Build ID: //p'; }
  if readelf -S --wide "$file" | grep -qE '\] \.(symtab|debug_)'; then
    fail linux "$name is installed with its symbols"
  elif [ -z "$kept" ] || [ ! -f "$lib/$kept" ]; then
    fail linux "$name has no debug link to a file beside it (link: '$kept')"
  elif [ -z "$(build_id "$file")" ] || [ "$(build_id "$file")" != "$(build_id "$lib/$kept")" ]; then
    fail linux "$kept was not split from $name (build ids differ)"
  elif ! readelf -S --wide "$lib/$kept" | grep -q '\] \.symtab'; then
    fail linux "$kept holds no symbols"
  else
    echo "package linux: $name stripped ($(stat -c %s "$file") bytes), symbols in $kept ($(stat -c %s "$lib/$kept") bytes): ok"
  fi
}

for wanted in "${targets[@]}"; do
  target=${wanted%%:*}
  build=build/$target
  [[ $wanted == *:* ]] && build=${wanted#*:}
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
      check_linux_library "$prefix"
      consumer linux find_package "env -u LD_LIBRARY_PATH" -DCMAKE_PREFIX_PATH="$prefix"
      PKG_CONFIG_PATH=$prefix/lib/pkgconfig consumer linux pkg-config "env -u LD_LIBRARY_PATH" -DREZ_USE_PKGCONFIG=ON
      command_line_consumer "$prefix"
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
