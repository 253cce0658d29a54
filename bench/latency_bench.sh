#!/bin/bash
# Saves the benchmark site across a link with a round-trip time, as on a real network: with
# `qmsave pages --complete`, with `wget -p -k -E -r -l1` and with HTTrack (at each of its
# settings below), in turns, several times at each round-trip time, and prints the median
# wall time of each, the ratios qmsave/wget and qmsave/httrack and the connections each tool
# opened (counted from nginx's access log).
#
# Three network namespaces made for the run: the client, a middle one where delay_bridge
# passes every frame on after half the round trip, each way, and the server, where nginx
# (keep-alive and gzip on) serves the site. The delay is checked with ping and a TCP connect
# before each round-trip time, and a bulk transfer checks that the bridge keeps up and drops
# nothing. Every namespace and process of the run is removed at the end, Ctrl-C included.
#
# Needs root (without it, it says so and does nothing). A benchmark, not a test.
# Usage: latency_bench.sh BINDIR
#   QM_LAT_RTTS="0 10 40 100"   round-trip times in ms
#   QM_LAT_RUNS=3               saves per tool at each round-trip time
#   QM_LAT_HTTRACK="OPTIONS,..." HTTrack's settings, one run of HTTrack per item
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "$1" && pwd)
rtts=${QM_LAT_RTTS:-0 10 40 100}
runs=${QM_LAT_RUNS:-3}

if [ "$(id -u)" -ne 0 ]; then
  echo "latency_bench: skipped, it needs root to make network namespaces"
  exit 0
fi
[ -x "$bin/delay_bridge" ] || { echo "latency_bench: $bin/delay_bridge is missing; build the native tree" >&2; exit 1; }
"$here/../scripts/setup-packages" latency

# HTTrack's settings, one per comma-separated item (an empty one is its defaults: 8
# connections, at most 10 new ones a second). The default is its fastest on this site: more
# connections, no limit on opening them or on bandwidth, no type checks before fetching.
IFS=, read -r -a httrack_settings <<<"${QM_LAT_HTTRACK--c16 -%c1000 -%! -%N0 -u0}"

tag=qmlat$$
ns_c=$tag-client ns_m=$tag-link ns_s=$tag-server
client_ip=10.77.0.1 server_ip=10.77.0.2
work=$(mktemp -d)
bridge=

cleanup() {
  local ns p left
  trap - EXIT INT TERM
  stop_bridge
  # Whatever still runs inside the run's own namespaces was started by this run.
  for sig in TERM KILL; do
    left=
    for ns in "$ns_c" "$ns_m" "$ns_s"; do
      for p in $(ip netns pids "$ns" 2>/dev/null); do kill -s "$sig" "$p" 2>/dev/null && left=1; done
    done
    [ -z "$left" ] || [ "$sig" = KILL ] || wait_for 3 no_processes_left || true
  done
  wait 2>/dev/null || true
  for ns in "$ns_c" "$ns_m" "$ns_s"; do ip netns del "$ns" 2>/dev/null || true; done
  rm -rf "$work"
}
no_processes_left() { [ -z "$(ip netns pids "$ns_c"; ip netns pids "$ns_m"; ip netns pids "$ns_s")" ]; } 2>/dev/null
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

in_ns() { local ns=$1; shift; ip netns exec "$ns" "$@"; }
now() { date +%s%N; }
# Waits until a command succeeds, for at most SECONDS.
wait_for() {  # SECONDS COMMAND...
  local deadline=$(( $(date +%s) + $1 )); shift
  until "$@"; do
    [ "$(date +%s)" -lt "$deadline" ] || return 1
    sleep 0.05
  done
}

# The link: client veth0 = c (middle) ... s (middle) = server veth0. The frames are
# passed by delay_bridge alone, so offloads that make frames larger than the MTU are off.
make_link() {
  local ns
  for ns in "$ns_c" "$ns_m" "$ns_s"; do
    ip netns add "$ns"
    in_ns "$ns" ip link set lo up
    in_ns "$ns" sysctl -q -w net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1
  done
  ip link add veth0 netns "$ns_c" type veth peer name c netns "$ns_m"
  ip link add veth0 netns "$ns_s" type veth peer name s netns "$ns_m"
  in_ns "$ns_c" ip addr add "$client_ip/24" dev veth0
  in_ns "$ns_s" ip addr add "$server_ip/24" dev veth0
  for dev in "$ns_c veth0" "$ns_m c" "$ns_m s" "$ns_s veth0"; do
    set -- $dev
    in_ns "$1" ethtool -K "$2" tx off sg off tso off gso off gro off >/dev/null 2>&1 || true
    in_ns "$1" ip link set "$2" up
  done
}

start_bridge() {  # ONE_WAY_DELAY_US
  rm -f "$work/bridge.ready"
  ip netns exec "$ns_m" "$bin/delay_bridge" c s "$1" "$work/bridge.ready" 2>"$work/bridge.log" &
  bridge=$!
  wait_for 10 test -e "$work/bridge.ready" || { cat "$work/bridge.log" >&2; echo "latency_bench: the bridge did not start" >&2; exit 1; }
}
stop_bridge() {
  [ -n "$bridge" ] || return 0
  kill "$bridge" 2>/dev/null || true
  wait "$bridge" 2>/dev/null || true
  bridge=
}
# The bridge's own report of its last run: frames dropped by the kernel or not sent.
bridge_losses() { sed -n 's/.*dropped by the kernel \([0-9]*\), failed to send \([0-9]*\).*/\1 \2/p' "$work/bridge.log"; }

start_nginx() {
  local p=$work/nginx
  mkdir -p "$p/logs" "$p/tmp"
  cat >"$p/nginx.conf" <<EOF
worker_processes 1;
error_log logs/error.log;
pid logs/nginx.pid;
events { worker_connections 4096; }
http {
  log_format conn '\$connection \$connection_requests \$status \$body_bytes_sent "\$request" "\$http_user_agent"';
  access_log logs/access.log conn;
  types { text/html html; text/css css; image/jpeg jpg; image/png png; }
  default_type application/octet-stream;
  client_body_temp_path tmp/body;
  proxy_temp_path tmp/proxy;
  fastcgi_temp_path tmp/fastcgi;
  uwsgi_temp_path tmp/uwsgi;
  scgi_temp_path tmp/scgi;
  sendfile on;
  keepalive_timeout 65s;
  keepalive_requests 100000;
  gzip on;
  gzip_types text/css;
  server {
    listen $server_ip:80 backlog=4096;
    root $work/site;
  }
}
EOF
  ip netns exec "$ns_s" nginx -p "$p" -c nginx.conf -g 'daemon off;' &
  wait_for 10 in_ns "$ns_c" curl -s -o /dev/null "http://$server_ip/index.html" ||
    { cat "$p/logs/error.log" >&2; echo "latency_bench: nginx did not start" >&2; exit 1; }
}
log=$work/nginx/logs/access.log
log_lines() { wc -l <"$log"; }
# nginx logs a request once it is answered: waits until the log stops growing.
log_settled() {
  local n=-1 m
  for _ in $(seq 1 50); do
    m=$(log_lines)
    [ "$m" = "$n" ] && return 0
    n=$m
    sleep 0.1
  done
}

# Checks that the link has the round-trip time it should: the fastest of a few pings and
# of a few TCP connects must not be below it. Prints "ping MS connect MS".
check_rtt() {  # RTT_MS
  local ping_ms connect_ms
  ping_ms=$(in_ns "$ns_c" ping -n -q -c 5 -i 0.2 "$server_ip" | sed -n 's|.* = \([0-9.]*\)/.*|\1|p')
  connect_ms=$(for _ in 1 2 3 4 5; do
      in_ns "$ns_c" curl -s -o /dev/null -w '%{time_connect}\n' "http://$server_ip/css/s1.css"
    done | sort -n | head -1 | awk '{ printf "%.2f", $1 * 1000 }')
  if awk -v p="$ping_ms" -v c="$connect_ms" -v r="$1" 'BEGIN { exit !(p < 0.9 * r || c < 0.9 * r) }'; then
    echo "latency_bench: the link was meant to have $1 ms but has ping $ping_ms ms, connect $connect_ms ms" >&2
    exit 1
  fi
  echo "$ping_ms $connect_ms"
}

# Fetches a large file across the link; prints MB/s. The bridge must not lose a frame.
bulk_check() {  # RTT_MS
  local t0 t1 losses
  t0=$(now)
  in_ns "$ns_c" curl -s -o "$work/bulk.out" "http://$server_ip/bulk.bin"
  t1=$(now)
  cmp -s "$work/bulk.out" "$work/site/bulk.bin" || { echo "latency_bench: the bulk transfer came back wrong" >&2; exit 1; }
  rm -f "$work/bulk.out"
  awk -v b="$(stat -c %s "$work/site/bulk.bin")" -v t="$((t1 - t0))" 'BEGIN { printf "%.0f", b / (t / 1e9) / 1e6 }'
}

# The tools, by number: qmsave, wget, then HTTrack at each of its settings.
tools=(qmsave wget)
for o in "${httrack_settings[@]}"; do tools+=("httrack${o:+ $o}"); done

# Runs tool number I, saving into the folder OUT. Clients run in the background so that
# Ctrl-C reaches this script at once, whatever the client does with signals.
save() {  # I OUT
  local out=$2 url=http://$server_ip/index.html
  case $1 in
    0) ip netns exec "$ns_c" "$bin/qmsave" pages "$url" "$out/index.html" --complete & ;;
    1) ip netns exec "$ns_c" wget -q -p -k -E -r -l1 -nH -P "$out" "$url" & ;;
    # Depth 3: the start page, the pages it links to and the pictures of those.
    # shellcheck disable=SC2086
    *) ip netns exec "$ns_c" httrack "$url" -O "$out" -r3 -q -Q -%v0 ${httrack_settings[$1 - 2]} & ;;
  esac
  wait $!
}
saved_files() {  # I OUT
  case $1 in
    0|1) find "$2" -type f 2>/dev/null | wc -l ;;
    *) find "$2/$server_ip" -type f 2>/dev/null | wc -l ;;
  esac
}

# One timed save; appends "RTT SECONDS CONNECTIONS REQUESTS FILES" to $work/runs.I.
run_one() {  # I RTT_MS
  local out=$work/out first t0 t1 status=0 files
  rm -rf "$out"; mkdir -p "$out"
  first=$(( $(log_lines) + 1 ))
  t0=$(now)
  save "$1" "$out" >"$work/tool.log" 2>&1 </dev/null || status=$?
  t1=$(now)
  log_settled
  files=$(saved_files "$1" "$out") || true
  if [ "$status" -ne 0 ] || [ "$files" -lt "$site_files" ]; then
    echo "latency_bench: ${tools[$1]} at $2 ms saved $files of $site_files files (status $status):" >&2
    tail -5 "$work/tool.log" >&2
    exit 1
  fi
  tail -n +"$first" "$log" | awk -v rtt="$2" -v t="$((t1 - t0))" -v f="$files" '
    { conns[$1] = 1; n++ }
    END { c = 0; for (k in conns) c++; printf "%s %.3f %d %d %d\n", rtt, t / 1e9, c, n, f }' >>"$work/runs.$1"
}

# --- the run ---------------------------------------------------------------------------
. "$here/make_site.sh"
make_site "$work/site"
site_files=$(find "$work/site" -type f | wc -l)
head -c $((32 << 20)) /dev/urandom >"$work/site/bulk.bin"
chmod -R a+rX "$work"

make_link
start_bridge 0
start_nginx

echo "Benchmark site of $site_files files served by nginx $(nginx -v 2>&1 | sed 's|.*/||'), saved by" \
  "qmsave, wget $(wget --version | sed -n '1s/GNU Wget \([^ ]*\).*/\1/p') and HTTrack" \
  "$(httrack --version 2>/dev/null | sed -n 's/.*HTTrack version \([^ +]*\).*/\1/p' | head -1)," \
  "$runs runs each at every round-trip time, in turns; $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
for o in "${httrack_settings[@]}"; do echo "  httrack URL -O OUT -r3 -q -Q -%v0 $o"; done

for rtt in $rtts; do
  stop_bridge
  start_bridge $((rtt * 500))
  measured=$(check_rtt "$rtt")
  read -r ping_ms connect_ms <<<"$measured"
  mbs=$(bulk_check "$rtt")
  echo "$rtt ms: ping $ping_ms ms, TCP connect $connect_ms ms, 32 MiB in one transfer at $mbs MB/s"
  echo "$rtt $ping_ms $connect_ms $mbs" >>"$work/link"
  for r in $(seq 1 "$runs"); do
    # Each round starts with the next tool, so that no tool always follows the same one.
    n=${#tools[@]}
    for k in $(seq 0 $((n - 1))); do
      i=$(( (k + r - 1) % n ))
      run_one "$i" "$rtt"
      echo "  round $r ${tools[$i]}: $(tail -1 "$work/runs.$i" | awk '{ print $2 " s, " $3 " connections, " $4 " requests, " $5 " files" }')"
    done
  done
  stop_bridge
  echo "  $(sed 's/^delay_bridge: //' "$work/bridge.log")"
  read -r dropped failed < <(bridge_losses)
  if [ "${dropped:-x}" != 0 ] || [ "${failed:-x}" != 0 ]; then
    echo "latency_bench: the bridge lost frames at $rtt ms: $(cat "$work/bridge.log")" >&2
    exit 1
  fi
done

# --- the table -------------------------------------------------------------------------
median() {  # I RTT COLUMN
  awk -v r="$2" -v c="$3" '$1 == r { print $c }' "$work/runs.$1" | sort -g |
    awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
n=${#tools[@]}
others=$(seq 1 $((n - 1)))
echo
echo "Median wall time of a save, and ratios of the medians:"
printf '| RTT | ping / connect |'
for i in $(seq 0 $((n - 1))); do printf ' %s |' "${tools[$i]}"; done
for i in $others; do printf ' qmsave/%s |' "${tools[$i]%% *}"; done
echo
printf '|---|---|'; for _ in $(seq 1 $((2 * n - 1))); do printf -- '---|'; done; echo
for rtt in $rtts; do
  read -r _ ping_ms connect_ms _ < <(awk -v r="$rtt" '$1 == r' "$work/link")
  q=$(median 0 "$rtt" 2)
  printf '| %s ms | %s / %s ms |' "$rtt" "$ping_ms" "$connect_ms"
  for i in $(seq 0 $((n - 1))); do printf ' %.2f s |' "$(median "$i" "$rtt" 2)"; done
  for i in $others; do printf ' %.2f |' "$(awk -v a="$q" -v b="$(median "$i" "$rtt" 2)" 'BEGIN { print a / b }')"; done
  echo
done
echo
echo "Connections each tool opened (median; requests in brackets):"
printf '| RTT |'; for i in $(seq 0 $((n - 1))); do printf ' %s |' "${tools[$i]}"; done; echo
printf '|---|'; for _ in $(seq 1 "$n"); do printf -- '---|'; done; echo
for rtt in $rtts; do
  printf '| %s ms |' "$rtt"
  for i in $(seq 0 $((n - 1))); do printf ' %s (%s) |' "$(median "$i" "$rtt" 3)" "$(median "$i" "$rtt" 4)"; done
  echo
done
