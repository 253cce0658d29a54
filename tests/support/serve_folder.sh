# Sourced by the scripts that serve a folder with qm_testserver (benchmarks, the qmsave verb
# test). Gives them a scratch folder $work; both it and the server are gone at exit.
work=$(mktemp -d)
server=
# The server's own status (killed) is not the script's: under set -e it would replace it.
stop_serving() {
  if [ -n "$server" ]; then kill "$server" 2>/dev/null; wait "$server" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap stop_serving EXIT

# Serves ROOT on loopback for at most SECONDS; sets $port and $base (http://127.0.0.1:PORT).
serve_folder() {  # BINDIR ROOT SECONDS
  rm -f "$work/port"
  "$1/qm_testserver" --root "$2" --seconds "$3" >"$work/port" &
  server=$!
  local i
  for i in $(seq 1 200); do [ -s "$work/port" ] && break; sleep 0.05; done
  [ -s "$work/port" ] || { echo "qm_testserver did not start" >&2; exit 1; }
  port=$(cat "$work/port")
  base=http://127.0.0.1:$port
}
