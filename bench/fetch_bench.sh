#!/bin/bash
# Fetches a 5 MiB body from a local server, plain, gzip-coded and over https, with
# `qmsave fetch` and with curl, alternating, and prints each one's mean time and the ratio
# qmsave/curl. The https server is `openssl s_server`, with an authority made for the run that
# both clients trust.
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
bench() {  # NAME URL CURL-OPTION...
  local name=$1 url=$2; shift 2
  "$bin/qmsave" fetch "$url" -o "$work/q.out"
  curl -s "$@" -o "$work/c.out" "$url"
  cmp -s "$work/q.out" "$work/page.bin" || { echo "qmsave returned a wrong body" >&2; exit 1; }
  cmp -s "$work/c.out" "$work/page.bin" || { echo "curl returned a wrong body" >&2; exit 1; }
  local q=0 c=0 t
  for _ in $(seq 1 "$rounds"); do
    t=$(now); "$bin/qmsave" fetch "$url" -o "$work/q.out"; q=$((q + $(now) - t))
    t=$(now); curl -s "$@" -o "$work/c.out" "$url"; c=$((c + $(now) - t))
  done
  awk -v n="$name" -v q="$q" -v c="$c" -v r="$rounds" 'BEGIN {
    printf "%-6s qmsave %7.2f ms   curl %7.2f ms   ratio %.2f\n", n, q/r/1e6, c/r/1e6, q/c }'
}

echo "5 MiB body, $rounds rounds each, mean wall time per fetch (process start included)"
bench plain "$base/plain.bin"
bench gzip "$base/page.bin" --compressed

# https: an authority and a certificate for 127.0.0.1, and a server that sends files as they
# are (no coding), ending each response with its close.
tls=$work/tls
mkdir "$tls"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$tls/ca.key" -out "$tls/ca.pem" -days 2 \
  -subj "/CN=fetch_bench authority" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout "$tls/server.key" -out "$tls/server.csr" \
  -subj "/CN=127.0.0.1" 2>/dev/null
echo "subjectAltName=IP:127.0.0.1" >"$tls/ext.cnf"
openssl x509 -req -in "$tls/server.csr" -CA "$tls/ca.pem" -CAkey "$tls/ca.key" \
  -CAcreateserial -out "$tls/server.pem" -days 1 -extfile "$tls/ext.cnf" 2>/dev/null
(cd "$work" && exec timeout 600 openssl s_server -WWW -accept 127.0.0.1:0 \
  -cert "$tls/server.pem" -key "$tls/server.key" >"$tls/server.out" 2>&1) &
tls_server=$!
stop_all() { kill "$tls_server" 2>/dev/null; wait "$tls_server" 2>/dev/null || true; stop_serving; }
trap stop_all EXIT
for _ in $(seq 1 200); do grep -q '^ACCEPT' "$tls/server.out" && break; sleep 0.05; done
tls_port=$(sed -n 's/^ACCEPT 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$tls/server.out")
[ -n "$tls_port" ] || { echo "openssl s_server did not start" >&2; exit 1; }
SSL_CERT_FILE=$tls/ca.pem bench https "https://127.0.0.1:$tls_port/plain.bin" --cacert "$tls/ca.pem"
