#!/bin/bash
# Saves a generated local site (a start page with 200 pictures, 3 style sheets, 2 frames and
# 30 linked pages with 10 pictures each) with `qmsave pages --complete` and with
# `wget -p -k -E -r -l1`, in turns, and prints the mean wall time and peak memory of each
# and the ratios qmsave/wget.
# Usage: site_bench.sh BINDIR [ROUNDS]
set -euo pipefail
bin=$1
rounds=${2:-5}
. "$(dirname "$0")/../tests/support/serve_folder.sh"

site=$work/site
mkdir -p "$site/img" "$site/css" "$site/pages"
picture() { head -c $((2048 + RANDOM % 30720)) /dev/urandom >"$1"; }
{
  echo '<html><head><title>Start</title>'
  for s in 1 2 3; do echo "<link rel=\"stylesheet\" href=\"css/s$s.css\">"; done
  echo '</head><body>'
  for f in 1 2; do echo "<frame src=\"frame$f.html\">"; done
  for i in $(seq 1 200); do echo "<p>Picture $i <img src=\"img/p$i.jpg\" alt=\"$i\"></p>"; done
  for p in $(seq 1 30); do echo "<p><a href=\"pages/page$p.html\">Page $p</a></p>"; done
  echo '</body></html>'
} >"$site/index.html"
for i in $(seq 1 200); do picture "$site/img/p$i.jpg"; done
for s in 1 2 3; do printf 'body { margin: %dpx; color: #333; }\n' "$s" >"$site/css/s$s.css"; done
for f in 1 2; do echo "<html><body><p>Frame $f</p></body></html>" >"$site/frame$f.html"; done
for p in $(seq 1 30); do
  {
    echo "<html><head><link rel=\"stylesheet\" href=\"../css/s1.css\"></head><body><h1>Page $p</h1>"
    for i in $(seq 1 10); do echo "<img src=\"pic$p-$i.png\">"; done
    echo '<a href="../index.html">back</a></body></html>'
  } >"$site/pages/page$p.html"
  for i in $(seq 1 10); do picture "$site/pages/pic$p-$i.png"; done
done

serve_folder "$bin" "$site" 900
url=$base/index.html

now() { date +%s%N; }
# Runs one save in a fresh folder; appends "seconds kilobytes" to the named file.
run() {  # NAME COMMAND...
  local name=$1; shift
  rm -rf "$work/out"; mkdir -p "$work/out"
  local t; t=$(now)
  /usr/bin/time -f "%M" -o "$work/kb" "$@" >/dev/null 2>&1 || true
  echo "$(( $(now) - t )) $(tail -1 "$work/kb")" | awk '{ print $1 / 1e9, $2 }' >>"$work/$name.times"
  find "$work/out" -type f | wc -l >"$work/$name.files"
}
for _ in $(seq 1 "$rounds"); do
  run qmsave "$bin/qmsave" pages "$url" "$work/out/index.html" --complete
  run wget wget -q -p -k -E -r -l1 -nH -P "$work/out" "$url"
done

awk -v r="$rounds" -v qf="$(cat "$work/qmsave.files")" -v wf="$(cat "$work/wget.files")" '
  FILENAME ~ /qmsave/ { qt += $1; if ($2 > qm) qm = $2 }
  FILENAME ~ /wget/   { wt += $1; if ($2 > wm) wm = $2 }
  END {
    printf "site of %d files saved by qmsave, %d by wget; %d rounds each\n", qf, wf, r
    printf "qmsave %6.3f s  %7.1f MiB peak\n", qt / r, qm / 1024
    printf "wget   %6.3f s  %7.1f MiB peak\n", wt / r, wm / 1024
    printf "ratio qmsave/wget: time %.2f, peak memory %.2f\n", qt / wt, qm / wm
  }' "$work/qmsave.times" "$work/wget.times"
