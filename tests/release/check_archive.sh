#!/bin/bash
# Packs the archive from a build's binaries, checks that it holds exactly its four files, and
# saves a page as a picture with the program unpacked alone in an empty folder.
# Usage: check_archive.sh BIN-FOLDER IMAGE-COMMAND-TESTS
set -euo pipefail
bin=$1
tests=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

zip=$("$root/scripts/release.sh" --from "$bin" "$work" | tail -n 1)
mkdir "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$zip")
folder=$(echo "$work/unpacked"/Quillon-*-win32)
contents=$(cd "$folder" && LC_ALL=C ls | tr '\n' ' ')
if [ "$contents" != "Pagesnap.exe README.txt qmApp.exe qm_url.dll " ]; then
  echo "the archive holds: $contents" >&2
  exit 1
fi
echo "$(basename "$zip"): $contents"

# Wine sees the Linux file system as drive Z:. The output goes through a file: whatever the
# program leaves running for a moment must not hold the test runner's pipe.
status=0
QM_APP_FOLDER="Z:${folder//\//\\}" "$root/scripts/wine-exec" "$tests" \
  --gtest_filter='ImageCommandEndToEnd.*' --gtest_color=no >"$work/run.log" 2>&1 || status=$?
cat "$work/run.log"
exit $status
