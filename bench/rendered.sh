#!/bin/bash
# Pages that scripts build, side by side: the fixtures of tests/rendered (served on 127.0.0.1
# by their own server) saved with `qmsave page --complete --rendered`, with the static
# `qmsave page --complete --static`, and, where it is installed (npm ci in
# bench/single-file-cli), with SingleFile's command line run by the same Chromium.
# rendered.mjs opens each copy in headless Chromium with the network refused and prints, per
# page, the likeness to the page online, the requests escaping the copy, the files, the bytes
# and the median time of RUNS saves.
# A benchmark, not a test: it needs node 18 or later, Chromium, ImageMagick and the packages
# of tests/rendered (npm ci there).
# Usage: rendered.sh BINDIR [RUNS [PAGE...]]
set -euo pipefail
bin=$(cd "$1" && pwd)
runs=${2:-3}
here=$(cd "$(dirname "$0")" && pwd)

[ -f "$here/../tests/rendered/node_modules/vite/package.json" ] ||
  { echo "rendered: Vite is missing (npm ci in tests/rendered)" >&2; exit 1; }
singlefile=$here/single-file-cli/node_modules/.bin/single-file
[ -x "$singlefile" ] || singlefile=-

work=$(mktemp -d "${TMPDIR:-/tmp}/rendered_bench.XXXXXX")
bencher=
cleanup() {
  [ -n "$bencher" ] && kill "$bencher" 2>/dev/null && wait "$bencher" 2>/dev/null
  # The browser's last processes end after it, still writing to their profile in $work.
  local i
  for i in $(seq 100); do pgrep -f -- "$work" >/dev/null || break; sleep 0.1; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP

node "$here/rendered.mjs" "$bin/qmsave" "$singlefile" "$work" "$runs" "${@:3}" &
bencher=$!
wait "$bencher"
status=$?
bencher=
exit $status
