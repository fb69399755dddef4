#!/usr/bin/env bash
# Builds one benchmark of the Linux build and runs it with the arguments given:
#
#   scripts/bench.sh NAME [arguments]    e.g. scripts/bench.sh tick_pacing_bench 10 --engine
#   scripts/bench.sh --list              the benchmarks (one per bench/NAME.cpp)
#
# The main job builds only the library and the host programs, so a benchmark
# is built here first (the library's objects are shared with it). The build
# folder is build/linux, the linux preset's; REZ_BUILD_DIR names another one
# (configured here like the preset if it is not yet). Figures: docs/benchmarks.md.
set -euo pipefail
cd "$(dirname "$0")/.."
names=$(for f in bench/*.cpp; do basename "$f" .cpp; done)
if [ $# -eq 0 ] || [ "$1" = --list ] || [ "$1" = -h ] || [ "$1" = --help ]; then
  [ $# -eq 0 ] && echo "usage: scripts/bench.sh NAME [arguments]; NAME is one of:" >&2
  echo "$names"
  [ $# -eq 0 ] && exit 2
  exit 0
fi
name=$1
shift
if ! grep -qx -- "$name" <<<"$names"; then
  echo "scripts/bench.sh: no benchmark '$name'; one of: $(tr '\n' ' ' <<<"$names")" >&2
  exit 2
fi
bash scripts/install-deps.sh
build=${REZ_BUILD_DIR:-build/linux}
if [ "$build" = build/linux ]; then
  cmake --preset linux >/dev/null
elif [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc >/dev/null
fi
cmake --build "$build" -j "${REZ_JOBS:-2}" --target "$name"
exec "$build/$name" "$@"
