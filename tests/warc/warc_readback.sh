#!/bin/bash
# A documentation site saved with `qmsave pages --complete --warc`, its archive read back by
# warcio.js (check_warc.mjs): every digest, and for every item saved the response it came in.
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

work=$(mktemp -d)
chmod 755 "$work"  # nginx's workers read the site through it
server=
finish() {
  if [ -n "$server" ]; then kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; fi
  rm -rf "$work"
}
trap finish EXIT
mkdir -p "$work/nginx/logs" "$work/www"
ln -s "$site" "$work/www/site"

# nginx on the first free port of 127.0.0.1 from 18400 on.
for port in $(seq 18400 18419); do
  cat >"$work/nginx/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log;
events { worker_connections 64; }
http {
  include /etc/nginx/mime.types;
  access_log off;
  gzip on;
  gzip_types text/css application/javascript image/svg+xml text/plain;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server {
    listen 127.0.0.1:$port;
    root $work/www;
    location = /start { return 301 /site/$start; }
  }
}
CONF
  nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" 2>/dev/null &
  server=$!
  for _ in $(seq 1 100); do
    curl -s -o /dev/null "http://127.0.0.1:$port/start" 2>/dev/null && break
    kill -0 "$server" 2>/dev/null || break
    sleep 0.05
  done
  kill -0 "$server" 2>/dev/null && break
  server=
done
[ -n "$server" ] || { echo "warc_readback: nginx did not start"; exit 1; }
base=http://127.0.0.1:$port

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
node "$here/check_warc.mjs" "$work/site.warc.gz" "$work/said" "$base/site/" "$site"
