#!/bin/bash
# Runs every benchmark of this folder. With no argument it first builds the native tree
# (and installs what the build and the peers need); with BINDIR it uses the programs there.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -ge 1 ]; then
  bin=$1
else
  . "$here/../scripts/env.sh"
  "$QM_ROOT/scripts/setup-packages" build test
  qm_build_native >/dev/null
  bin=$QM_NATIVE/bin
fi
for b in "$here"/*_bench.sh; do
  echo "== $(basename "$b" .sh)"
  "$b" "$bin"
done
