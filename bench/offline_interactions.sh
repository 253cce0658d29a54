#!/bin/bash
# What a reader can still do in a saved copy opened from disk, side by side with wget's copy:
# search in Javadoc, rustdoc, Sphinx, Doxygen and MkDocs copies, rustdoc's settings panel and
# theme, and the links of a sidebar that a script builds. The sites are Debian documentation
# packages served by nginx (gzip on) on 127.0.0.1, saved with `qmsave pages --complete` and
# with `wget -p -k -E -r -l1`; offline_interactions.mjs opens each copy in headless Chromium
# with every request out of the machine refused and does what the reader would.
# A benchmark, not a test: it needs the documentation packages (setup-packages fidelity) and
# node 20 or later.
# Usage: offline_interactions.sh BINDIR [SITE...]
set -euo pipefail
bin=$(cd "$1" && pwd)
only=("${@:2}")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/serve_www.sh"
make_workspace offline_interactions

# name | folder | start page
sites=(
  "javadoc|/usr/share/doc/libcommons-lang3-java/api|index.html"
  "rustdoc|/usr/share/doc/cargo/doc|quote/index.html"
  "python|/usr/share/doc/python3-doc/html|index.html"
  "lmdb|/usr/share/doc/lmdb-doc/html|index.html"
  "mkdocs|/usr/share/doc/mkdocs/html|index.html"
)
choose_sites "${only[@]}"

mkdir -p "$work/www" "$work/nginx/logs"
for s in "${sites[@]}"; do
  IFS='|' read -r name folder _ <<<"$s"
  [ -d "$folder" ] || { echo "offline_interactions: $folder is missing (run scripts/setup-packages fidelity)" >&2; exit 1; }
  ln -s "$folder" "$work/www/$name"
done
serve_www 18280 offline_interactions
host=${base#http://}
host=${host/:/-}  # the folder qmsave saves the host's items in

printf '%s\n' "| Site | What the reader does | qmsave | wget |" "|---|---|---|---|"
for s in "${sites[@]}"; do
  IFS='|' read -r name _ start <<<"$s"
  q=$work/q/$name; w=$work/w/$name
  mkdir -p "$q" "$w"
  "$bin/qmsave" pages "$base/$name/$start" "$q/index.html" --complete 2>/dev/null || true
  (cd "$w" && wget -q -p -k -E -r -l1 -nH "$base/$name/$start" 2>/dev/null) || true
  node --experimental-websocket --no-warnings "$here/offline_interactions.mjs" "$name" \
    "$q/http-/$host" "$w"
done
