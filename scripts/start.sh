#!/bin/bash
# Builds Quillon's desktop program and opens its main window: under Wine on Linux.
# Without a display it runs on a private virtual one and leaves a picture of the window.
set -euo pipefail
. "$(dirname "$0")/env.sh"

"$QM_ROOT/scripts/setup-packages" build windows wine test
# The 32-bit build where this machine runs 32-bit processes, else the 64-bit one.
set -- $(qm_runnable_windows)
kind=$1
tree=$(qm_windows_tree "$kind")
if [ "$kind" = win32 ]; then
  echo "Starting the 32-bit build ($tree)."
else
  echo "Starting the 64-bit build ($tree): this machine runs no 32-bit process."
fi
cmake -S "$QM_ROOT" -B "$tree" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$(qm_windows_toolchain "$kind")" >/dev/null
# The renderer too: the program starts it beside itself for "Save This Page as An Image".
cmake --build "$tree" --target qmApp Pagesnap -j "$QM_JOBS"

virtual=0
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
  virtual=1
  qm_x_start
fi
trap 'qm_wine_stop; qm_x_stop' EXIT
echo "Starting Wine (the first start sets up its prefix and takes a while)..."
qm_wine_start "$kind"

cd "$tree/bin"
if [ $virtual -eq 0 ]; then
  "$WINELOADER" qmApp.exe
  exit 0
fi

"$WINELOADER" qmApp.exe &
app=$!
for _ in $(seq 1 300); do
  xwininfo -root -tree 2>/dev/null | grep -q '"Quillon"' && break
  kill -0 $app 2>/dev/null || break
  sleep 0.1
done
# The window is found by its title before it has painted, and paints control by control:
# take the picture once the screen shows more than one colour and two looks in a row agree.
picture="$tree/main-window.png"
last=
for _ in $(seq 1 100); do
  import -window root -crop 480x480+0+0 "$picture" 2>/dev/null || true
  look=$(convert "$picture" -format '%k %#' info: 2>/dev/null || echo "0 none")
  [ "${look%% *}" -gt 1 ] && [ "$look" = "$last" ] && break
  last=$look
  kill -0 $app 2>/dev/null || break
  sleep 0.2
done
cat <<MSG
There is no display here, so Quillon runs on the virtual display $DISPLAY.
A picture of its main window: $picture
Look at it live with, for instance, x11vnc -display $DISPLAY (then a VNC viewer), or run
this script from a desktop session to get the window on your screen. Ctrl-C ends Quillon.
MSG
wait $app
