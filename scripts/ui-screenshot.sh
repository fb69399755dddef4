#!/usr/bin/env bash
# Takes docs/ui.png (or the file given): the tuning page in headless Chromium
# while the car drive plays, at the end of the page's browser test, so it
# shows a live edit, its responses and a refused filter string.
# Needs the linux preset built and scripts/install-deps.sh run.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/ui.png}")
REZ_UI_SCREENSHOT=$out REZ_HOST_PATH=${REZ_HOST_PATH:-$PWD/build/linux/rezadedudid-host} \
  /usr/bin/python3 -m unittest discover -s tests/ui -t tests/ui
echo "page: $out"
