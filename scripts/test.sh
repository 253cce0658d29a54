#!/bin/bash
# Builds everything and runs every test: natively, under AddressSanitizer and
# UndefinedBehaviorSanitizer, each fuzz target briefly, and the Windows builds under Wine.
# Installs what it needs.
set -euo pipefail
. "$(dirname "$0")/env.sh"

"$QM_ROOT/scripts/setup-packages" build windows wine test fuzz warc
# warcio.js, which reads the web archives back, at the versions its lock file names.
command -v npm >/dev/null || "$QM_ROOT/scripts/setup-packages" node
if ! (cd "$QM_ROOT/tests/warc" && npm ci --no-audit --no-fund --loglevel=error); then
  echo "== warcio.js could not be installed: the web archive read-back (warc_readback) is skipped" >&2
fi
# Vite, React and Vue, which build the pages of the rendered-save check, at their locked versions.
if ! (cd "$QM_ROOT/tests/rendered" && npm ci --no-audit --no-fund --loglevel=error); then
  echo "== Vite, React or Vue could not be installed: the rendered-save check (rendered_pages) is skipped" >&2
fi

qm_build_native
qm_build_asan
qm_build_windows win32
qm_build_windows win64

status=0
echo "== native tests"
(cd "$QM_NATIVE" && ctest --output-on-failure -j "$QM_JOBS") || status=1
echo "== sanitizer tests"
(cd "$QM_ASAN" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j "$QM_JOBS") || status=1

# A few seconds each: a fuzz target that no longer builds or fails at once fails the run.
echo "== fuzz targets"
"$QM_ROOT/scripts/fuzz.sh" 5 || status=1

runnable=$(qm_runnable_windows)
if [ "$runnable" = "win32 win64" ]; then
  echo "== Windows tests under Wine: the 32-bit and the 64-bit build (this machine runs 32-bit processes)"
else
  echo "== Windows tests under Wine: the 64-bit build only (this machine runs no 32-bit process);" \
    "the 32-bit build is checked without running it"
  # Its exports, calling convention and release archive, read from the files.
  (cd "$QM_WIN32" && ctest --output-on-failure -L host) || status=1
fi
trap 'qm_wine_stop; qm_x_stop' EXIT
qm_x_start
for kind in $runnable; do
  echo "== $kind build under Wine"
  qm_wine_start "$kind"
  (cd "$(qm_windows_tree "$kind")" && ctest --output-on-failure) || status=1
  qm_wine_stop
done

[ $status -eq 0 ] && echo "All tests passed." || echo "Some tests failed." >&2
exit $status
