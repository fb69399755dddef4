#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if any is missing,
# and the tuning page's chart library from npm.
set -euo pipefail
packages=(cmake ninja-build g++ clang libclang-rt-14-dev g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
          wine64 googletest libbenchmark-dev pkgconf python3-matplotlib iproute2
          libboost-dev nlohmann-json3-dev chromium chromium-driver python3-selenium)
# A Node.js that brings its own npm (as NodeSource's does) conflicts with
# Debian's npm package: ask for both only when there is no npm at all.
command -v npm >/dev/null || packages+=(nodejs npm)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# uPlot, at the version tools/ui/package-lock.json pins, into build/ui-deps
# (git ignores build/): the host serves it from there. Installed again only
# when the lock file changed or the files are missing.
root=$(cd "$(dirname "$0")/.." && pwd)
deps=$root/build/ui-deps
if ! cmp -s "$root/tools/ui/package-lock.json" "$deps/package-lock.json" ||
   [ ! -f "$deps/node_modules/uplot/dist/uPlot.iife.min.js" ]; then
  echo "installing: uplot (npm) into build/ui-deps"
  mkdir -p "$deps"
  cp "$root/tools/ui/package.json" "$root/tools/ui/package-lock.json" "$deps/"
  npm ci --prefix "$deps" --no-audit --no-fund --loglevel=error >/dev/null
fi
