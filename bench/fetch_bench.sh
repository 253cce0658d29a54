#!/bin/bash
# Fetches a 5 MiB body from a local server, plain and gzip-coded, with `qmsave fetch` and with
# curl, alternating, and prints each one's mean time and the ratio qmsave/curl.
# Usage: fetch_bench.sh BINDIR [ROUNDS]
set -euo pipefail
bin=$1
rounds=${2:-20}
. "$(dirname "$0")/../tests/support/serve_folder.sh"

# A body that compresses about as well as real pages: markup with stretches of noise.
# (yes and head end each other with SIGPIPE, which is how they are meant to stop.)
set +o pipefail
for i in $(seq 1 48); do
  head -c 49152 /dev/urandom | base64 -w 100
  yes '<p class="text">Quillon saves web pages so you can read them offline.</p>' | head -c 65536
done | head -c 5242880 >"$work/page.bin"
set -o pipefail
cp "$work/page.bin" "$work/plain.bin"
gzip -6 -c "$work/page.bin" >"$work/page.bin.gz"

serve_folder "$bin" "$work" 600

now() { date +%s%N; }

# Checks both clients once, then times them in turns so that both see the same machine.
bench() {  # NAME PATH CURL-OPTION...
  local name=$1 path=$2; shift 2
  "$bin/qmsave" fetch "$base$path" -o "$work/q.out"
  curl -s "$@" -o "$work/c.out" "$base$path"
  cmp -s "$work/q.out" "$work/page.bin" || { echo "qmsave returned a wrong body" >&2; exit 1; }
  cmp -s "$work/c.out" "$work/page.bin" || { echo "curl returned a wrong body" >&2; exit 1; }
  local q=0 c=0 t
  for _ in $(seq 1 "$rounds"); do
    t=$(now); "$bin/qmsave" fetch "$base$path" -o "$work/q.out"; q=$((q + $(now) - t))
    t=$(now); curl -s "$@" -o "$work/c.out" "$base$path"; c=$((c + $(now) - t))
  done
  awk -v n="$name" -v q="$q" -v c="$c" -v r="$rounds" 'BEGIN {
    printf "%-6s qmsave %7.2f ms   curl %7.2f ms   ratio %.2f\n", n, q/r/1e6, c/r/1e6, q/c }'
}

echo "5 MiB body, $rounds rounds each, mean wall time per fetch (process start included)"
bench plain /plain.bin
bench gzip /page.bin --compressed
