#!/bin/bash
# Packs the archive from a build's binaries and checks that it holds exactly its four files,
# built for the build's processor. Given the image command tests, it also saves a page as a
# picture with the program unpacked alone in an empty folder.
# Usage: check_archive.sh BIN-FOLDER [IMAGE-COMMAND-TESTS]
set -euo pipefail
bin=$1
tests=${2:-}
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/scripts/wine-select.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

kind=$(qm_pe_kind "$bin/qmApp.exe")
zip=$("$root/scripts/release.sh" --from "$bin" "$work" | tail -n 1)
case $(basename "$zip") in
  Quillon-*-$kind.zip) ;;
  *) echo "a $kind build was packed as $(basename "$zip")" >&2; exit 1 ;;
esac
mkdir "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$zip")
folder=$(echo "$work/unpacked"/Quillon-*-$kind)
contents=$(cd "$folder" && LC_ALL=C ls | tr '\n' ' ')
if [ "$contents" != "Pagesnap.exe README.txt qmApp.exe qm_url.dll " ]; then
  echo "the archive holds: $contents" >&2
  exit 1
fi
for b in Pagesnap.exe qmApp.exe qm_url.dll; do
  [ "$(qm_pe_kind "$folder/$b")" = "$kind" ] || { echo "$b in the archive is not $kind" >&2; exit 1; }
done
echo "$(basename "$zip"): $contents"
[ -n "$tests" ] || exit 0

# Wine sees the Linux file system as drive Z:. The output goes through a file: whatever the
# program leaves running for a moment must not hold the test runner's pipe.
status=0
QM_APP_FOLDER="Z:${folder//\//\\}" "$root/scripts/wine-exec" "$tests" \
  --gtest_filter='ImageCommandEndToEnd.*' --gtest_color=no >"$work/run.log" 2>&1 || status=$?
cat "$work/run.log"
exit $status
