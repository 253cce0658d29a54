#!/bin/bash
# Builds everything and runs every test: natively, under AddressSanitizer and
# UndefinedBehaviorSanitizer, each fuzz target briefly, and the Windows build under Wine.
# Installs what it needs.
set -euo pipefail
. "$(dirname "$0")/env.sh"

"$QM_ROOT/scripts/setup-packages" build windows wine test fuzz

qm_build_native
qm_build_asan
qm_build_win32

status=0
echo "== native tests"
(cd "$QM_NATIVE" && ctest --output-on-failure -j "$QM_JOBS") || status=1
echo "== sanitizer tests"
(cd "$QM_ASAN" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j "$QM_JOBS") || status=1

# A few seconds each: a fuzz target that no longer builds or fails at once fails the run.
echo "== fuzz targets"
"$QM_ROOT/scripts/fuzz.sh" 5 || status=1

echo "== Windows tests under Wine"
trap 'qm_wine_stop; qm_x_stop' EXIT
qm_x_start
qm_wine_start
(cd "$QM_WIN32" && ctest --output-on-failure) || status=1

[ $status -eq 0 ] && echo "All tests passed." || echo "Some tests failed." >&2
exit $status
