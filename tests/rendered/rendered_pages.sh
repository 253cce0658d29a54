#!/bin/bash
# Pages that scripts build (a React and a Vue app built with Vite, a list fetched as JSON,
# pictures loaded as they come into view, shadow roots, style made by script, a canvas,
# modules, beacons, an event stream, an endless feed), served on 127.0.0.1 by server.mjs,
# saved with `qmsave page --rendered --complete`, and each copy checked against the page
# online by check_rendered.mjs in headless Chromium.
# Exits 77 (skipped, said on standard output) where node 18 or later, Chromium, ImageMagick or the
# packages of package-lock.json are missing: scripts/test.sh installs them.
# Usage: rendered_pages.sh BINDIR
set -uo pipefail
bin=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)

skip() { echo "rendered_pages: SKIPPED, the rendered saves were not checked: $1"; exit 77; }
command -v node >/dev/null || skip "node is not installed"
[ "$(node -p 'process.versions.node.split(".")[0]')" -ge 18 ] || skip "node is older than 18 (Vite needs 18)"
[ -x /usr/bin/chromium ] || skip "chromium is not installed"
command -v compare >/dev/null || skip "ImageMagick is not installed"
[ -f "$here/node_modules/vite/package.json" ] && [ -f "$here/node_modules/react/package.json" ] &&
  [ -f "$here/node_modules/vue/package.json" ] || skip "Vite, React or Vue is missing (npm ci in tests/rendered)"

work=$(mktemp -d "${TMPDIR:-/tmp}/rendered_pages.XXXXXX")
checker=
cleanup() {
  # The checker ends its server, its browser and the saves it started when it ends.
  [ -n "$checker" ] && kill "$checker" 2>/dev/null && wait "$checker" 2>/dev/null
  # The browser's last processes end after it, still writing to their profile in $work.
  local i
  for i in $(seq 100); do pgrep -f -- "$work" >/dev/null || break; sleep 0.1; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP

node "$here/check_rendered.mjs" "$bin/qmsave" "$work" &
checker=$!
wait "$checker"
status=$?
checker=
exit $status
