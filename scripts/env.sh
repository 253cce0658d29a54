# Shared by the scripts: the build trees, the Wine prefix and a private X display.
# Source it; it defines functions and variables, and runs nothing.
QM_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QM_NATIVE=$QM_ROOT/build/native
QM_ASAN=$QM_ROOT/build/asan
# The Windows builds: 32-bit (the product for 32-bit callers) and 64-bit, same sources.
QM_WIN32=$QM_ROOT/build/win32
QM_WIN64=$QM_ROOT/build/win64
QM_JOBS=$(nproc)
. "$QM_ROOT/scripts/wine-select.sh"

qm_configure_and_build() {  # DIR [cmake args...]
  local dir=$1; shift
  cmake -S "$QM_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$QM_JOBS"
}

qm_build_native() { qm_configure_and_build "$QM_NATIVE" "$@"; }
qm_build_asan() { qm_configure_and_build "$QM_ASAN" -DQM_SANITIZE=ON "$@"; }
qm_build_windows() {  # win32 | win64 [cmake args...]
  local kind=$1; shift
  qm_configure_and_build "$(qm_windows_tree "$kind")" \
    -DCMAKE_TOOLCHAIN_FILE="$(qm_windows_toolchain "$kind")" "$@"
}
qm_windows_tree() { [ "$1" = win32 ] && echo "$QM_WIN32" || echo "$QM_WIN64"; }
qm_windows_toolchain() {
  [ "$1" = win32 ] && echo "$QM_ROOT/cmake/mingw-i686.cmake" || echo "$QM_ROOT/cmake/mingw-x86_64.cmake"
}

# The Windows builds this machine runs: both where it runs 32-bit processes, else the
# 64-bit one. The first named is the one to start the program from.
qm_runnable_windows() {
  if qm_runs_32bit; then echo win32 win64; else echo win64; fi
}

# Wine: one prefix per build tree, a persistent server warmed before any test starts, so
# that CTest never waits on Wine's own start-up services.
qm_wine_start() {  # win32 | win64
  qm_wine_use "$1"
  export WINEPREFIX=$(qm_windows_tree "$1")/wineprefix
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$WINEPREFIX"
  # A server left over from an earlier run of this prefix would refuse -p.
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -p
  "$WINELOADER" cmd /c exit >/dev/null 2>&1 </dev/null
}
qm_wine_stop() {
  [ -n "${WINEPREFIX:-}" ] && [ -n "${WINESERVER:-}" ] && "$WINESERVER" -k 2>/dev/null || true
}

# A private X server for programs with windows; DISPLAY points at it until qm_x_stop.
qm_x_start() {
  local n
  for n in $(seq 90 130); do
    [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    QM_XVFB_PID=$!
    local i
    for i in $(seq 1 100); do
      [ -e /tmp/.X11-unix/X$n ] && { export DISPLAY=":$n"; return 0; }
      kill -0 "$QM_XVFB_PID" 2>/dev/null || break
      sleep 0.1
    done
  done
  echo "could not start Xvfb" >&2
  return 1
}
qm_x_stop() {
  [ -n "${QM_XVFB_PID:-}" ] && kill "$QM_XVFB_PID" 2>/dev/null && wait "$QM_XVFB_PID" 2>/dev/null || true
}
