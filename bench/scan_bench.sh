#!/bin/bash
# The page scan on a generated 10 MiB page with 50,000 references, and beside it sed
# rewriting the same page's src and href values with one expression, as a yardstick.
# Usage: scan_bench.sh BINDIR [ROUNDS]
set -euo pipefail
bin=$1
rounds=${2:-10}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

out=$("$bin/scan_bench" "$rounds")
echo "$out"
mbs=$(sed -E "s/.*scan and rewrite ([0-9.]+) MB\/s.*/\1/" <<<"$out")

"$bin/scan_bench" --write "$work/page.html"
size=$(stat -c %s "$work/page.html")
now() { date +%s%N; }
t=$(now)
for _ in $(seq 1 "$rounds"); do
  sed -E 's/(src|href)=("?)([^" >]*)/\1=\2http-\/host\/\3/g' "$work/page.html" >"$work/sed.html"
done
ns=$(( $(now) - t ))
awk -v s="$size" -v ns="$ns" -v r="$rounds" -v q="$mbs" 'BEGIN {
  p = s / 1048576 * r / (ns / 1e9)
  printf "sed, one substitution over the same page: %.1f MB/s; ratio scan/sed %.2f\n", p, q / p }'
