#!/bin/bash
# Renders pictures of the desktop program's windows into docs/ (PNG), under Wine on a
# private Xvfb display. Builds the Windows tree this machine runs first.
set -euo pipefail
. "$(dirname "$0")/env.sh"

"$QM_ROOT/scripts/setup-packages" build windows wine test
set -- $(qm_runnable_windows)
kind=$1
qm_build_windows "$kind"

out=$(mktemp -d)
trap 'qm_wine_stop; qm_x_stop; rm -rf "$out"' EXIT
qm_x_start
qm_wine_start "$kind"
"$QM_ROOT/scripts/wine-exec" "$(qm_windows_tree "$kind")/bin/gui_screenshots.exe" \
  "$("$WINELOADER" winepath -w "$out")"

mkdir -p "$QM_ROOT/docs"
for bmp in "$out"/*.bmp; do
  name=$(basename "$bmp" .bmp)
  convert "$bmp" "$QM_ROOT/docs/$name.png"
  echo "docs/$name.png"
done
