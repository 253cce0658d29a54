#!/bin/bash
# A documentation site saved with `qmsave pages --complete --warc`, its archive read back by
# warcio.js (check_warc.mjs): every digest, for every item saved the response it came in, and
# the CDXJ index beside it.
# The site is a Debian documentation package served by nginx with gzip on, so that pages and
# style sheets come chunked and gzip'd; the save begins at an address that redirects.
# Exits 77 (skipped, said on standard output) where node, warcio.js, nginx or the site are
# missing: scripts/test.sh installs them.
# Usage: warc_readback.sh BINDIR [windows]   (windows: run BINDIR/qmsave.exe under Wine)
set -uo pipefail
bin=$(cd "$1" && pwd)
windows=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
site=/usr/share/debian-reference
start=index.en.html

skip() { echo "warc_readback: SKIPPED, the archive was not read back: $1"; exit 77; }
command -v node >/dev/null || skip "node is not installed"
[ -f "$here/node_modules/warcio/package.json" ] ||
  skip "warcio.js is not installed (npm ci in tests/warc)"
command -v nginx >/dev/null || skip "nginx is not installed (scripts/setup-packages warc)"
[ -f "$site/$start" ] || skip "$site is missing (scripts/setup-packages warc)"

. "$here/../../bench/serve_www.sh"
make_workspace warc_readback
mkdir -p "$work/nginx/logs" "$work/www"
ln -s "$site" "$work/www/site"
serve_www 18400 warc_readback "location = /start { return 301 /site/$start; }"

if [ -n "$windows" ]; then
  "$here/../../scripts/wine-exec" "$bin/qmsave.exe" pages "$base/start" "Z:$work/out/index.html" \
    --complete --warc "Z:$work/site.warc.gz" >"$work/said" 2>&1
else
  "$bin/qmsave" pages "$base/start" "$work/out/index.html" --complete \
    --warc "$work/site.warc.gz" 2>"$work/said"
fi
status=$?
tail -1 "$work/said"
[ $status -eq 0 ] || { echo "warc_readback: qmsave exited $status"; cat "$work/said"; exit 1; }
node "$here/check_warc.mjs" "$work/site.warc.gz" "$work/said" "$base/site/" "$site" "$work/site.cdxj"
