#!/bin/bash
# Builds Quillon and starts it.
set -euo pipefail
. "$(dirname "$0")/env.sh"

"$QM_ROOT/scripts/setup-packages" build
qm_build_native -DQM_BUILD_TESTS=OFF
exec "$QM_NATIVE/bin/qmsave" --help
