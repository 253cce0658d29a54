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
. "$(dirname "$0")/make_site.sh"

site=$work/site
make_site "$site"

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
