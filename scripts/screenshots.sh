#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Renders the pictures of kestrilavon-check's screens that the documentation shows into
# docs/screens/ (or the folder given), from this build's own windows, on Qt's offscreen
# platform at 1280x800. The GNOME and KDE pictures are qemu's screendumps of the real-kernel
# tests (tests/vm/run-in-vm --keep-screens), and the framebuffer's one too.
set -euo pipefail
cd "$(dirname "$0")/.."
folder=${1:-docs/screens}
scripts/setup.sh > /dev/null
cmake --build build --target render-screens > /dev/null
screen=$(mktemp)
trap 'rm -f "$screen"' EXIT
echo '{"screens": [{"name": "docs", "x": 0, "y": 0, "width": 1280, "height": 800, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]}' > "$screen"
mkdir -p "$folder"
QT_QPA_PLATFORM="offscreen:configfile=$screen" build/render-screens "$folder"
