#!/bin/bash
# A single file against the folder copy and against SingleFile: the start pages of the
# documentation sites of fidelity.sh, served by nginx on 127.0.0.1, saved with
# `qmsave page --complete` (a folder copy) and `qmsave page --complete --single-file`, and,
# where it is installed (npm ci in bench/single-file-cli), with SingleFile's command line run
# by the same Chromium. Each copy is opened from disk in headless Chromium with the network
# blocked (every proxied request goes to a closed port): the likeness of the single file to
# the folder copy (1 - RMSE of the screenshots, 1280 by 1600), the network requests the page
# sent (from Chromium's net log, the browser's own left out), and the file sizes. SingleFile
# runs twice: keeping the scripts, as the single file does, and at its defaults, which remove
# them and the style rules the page does not use.
# A benchmark, not a test: it needs the documentation packages (setup-packages fidelity).
# Usage: single_file.sh BINDIR [SITE...]
set -euo pipefail
bin=$(cd "$1" && pwd)
only=("${@:2}")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/serve_www.sh"
make_workspace single_file

# name | folder | start page (as in fidelity.sh)
sites=(
  "python|/usr/share/doc/python3-doc/html|index.html"
  "debian-reference|/usr/share/debian-reference|index.en.html"
  "sdl2|/usr/share/doc/libsdl2-doc/html|index.html"
  "git|/usr/share/doc/git/html|git.html"
  "debian-handbook|/usr/share/doc/debian-handbook/html/en-US|index.html"
  "sqlite|/usr/share/doc/sqlite3|index.html"
)
choose_sites "${only[@]}"

singlefile=$here/single-file-cli/node_modules/.bin/single-file
[ -x "$singlefile" ] || singlefile=

mkdir -p "$work/www" "$work/nginx/logs"
for s in "${sites[@]}"; do
  IFS='|' read -r name folder _ <<<"$s"
  [ -d "$folder" ] || { echo "single_file: $folder is missing (run scripts/setup-packages fidelity)" >&2; exit 1; }
  ln -s "$folder" "$work/www/$name"
done
serve_www 18200 single_file

# A copy opened from disk with the network blocked: its screenshot, then on standard output
# the number of network requests the page sent.
shoot_offline() {  # FILE PNG
  local profile; profile=$(mktemp -d "$work/profile.XXXX")
  timeout 60 chromium --headless --no-sandbox --disable-gpu --disable-background-networking \
    --no-first-run --hide-scrollbars --user-data-dir="$profile" --window-size=1280,1600 \
    --virtual-time-budget=4000 --run-all-compositor-stages-before-draw \
    --proxy-server=127.0.0.1:9 --proxy-bypass-list='<-loopback>' \
    --log-net-log="$profile.netlog" --net-log-capture-mode=Default \
    --screenshot="$2" "file://$1" >/dev/null 2>&1 || true
  python3 - "$profile.netlog" <<'EOF'
import json, sys
log = json.load(open(sys.argv[1], encoding='utf-8', errors='replace'))
start = log['constants']['logEventTypes']['URL_REQUEST_START_JOB']
# The browser's own requests (updates, dictionaries) have no origin; the page's do.
print(len({e['params'].get('url') for e in log['events']
           if e['type'] == start and 'initiator' in e.get('params', {})
           and e['params']['initiator'] != 'not an origin'}))
EOF
  rm -rf "$profile" "$profile.netlog"
}
likeness() {  # PNG PNG
  [ -s "$1" ] && [ -s "$2" ] || { echo 0; return; }
  local r; r=$(compare -metric RMSE "$1" "$2" null: 2>&1 | sed -nE 's/.*\(([0-9.e-]+)\).*/\1/p' || true)
  awk -v r="${r:-1}" 'BEGIN { printf "%.4f", 1 - r }'
}
size() { if [ -s "$1" ]; then stat -c %s "$1"; else echo -; fi; }

# SingleFile loses its script context now and then: it gets three tries.
singlefile_save() {  # URL FILE [OPTION...]
  local try
  for try in 1 2 3; do
    rm -f "$2"
    timeout 120 "$singlefile" --browser-executable-path=/usr/bin/chromium \
      --browser-args='["--no-sandbox"]' "${@:3}" "$1" "$2" >/dev/null 2>&1 || true
    [ -s "$2" ] && return 0
  done
  return 1
}

printf '%s\n' "| Site | Likeness to the folder copy | Network requests (folder / single file / SingleFile) | Bytes: single file / SingleFile keeping scripts / SingleFile at its defaults | single file / SingleFile keeping scripts |"
printf '%s\n' "|---|---|---|---|---|"
for s in "${sites[@]}"; do
  IFS='|' read -r name _ start <<<"$s"
  url=$base/$name/$start
  f=$work/folder/$name; o=$work/one/$name; p=$work/peer/$name
  mkdir -p "$f" "$o" "$p"
  "$bin/qmsave" page "$url" "$f/index.html" --complete 2>/dev/null || true
  "$bin/qmsave" page "$url" "$o/index.html" --complete --single-file 2>/dev/null || true
  fnet=$(shoot_offline "$f/index.html" "$work/$name-folder.png")
  onet=$(shoot_offline "$o/index.html" "$work/$name-one.png")
  like=$(likeness "$work/$name-folder.png" "$work/$name-one.png")
  pnet=-; psize=-; pdefault=-; ratio=-
  if [ -n "$singlefile" ]; then
    if singlefile_save "$url" "$p/index.html" --block-scripts=false; then
      pnet=$(shoot_offline "$p/index.html" "$work/$name-peer.png")
      psize=$(size "$p/index.html")
      ratio=$(awk -v a="$(size "$o/index.html")" -v b="$psize" 'BEGIN { printf "%.2f", a / b }')
    fi
    singlefile_save "$url" "$p/default.html" && pdefault=$(size "$p/default.html")
  fi
  printf '| %s | %s | %s / %s / %s | %s / %s / %s | %s |\n' "$name" "$like" "$fnet" "$onet" \
    "$pnet" "$(size "$o/index.html")" "$psize" "$pdefault" "$ratio"
done
