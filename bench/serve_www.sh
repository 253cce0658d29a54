# Sourced by the benchmarks that serve documentation sites.

# A scratch folder $work for the run, removed at the end with the nginx it started (KEEP=1
# keeps it for a look afterwards).
make_workspace() {  # NAME-FOR-MESSAGES
  bench_name=$1
  work=$(mktemp -d)
  chmod 755 "$work"  # nginx workers read the site through it
  nginx_pid=
  trap end_workspace EXIT
}
end_workspace() {
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
  if [ -n "${KEEP:-}" ]; then echo "$bench_name: kept $work" >&2; else rm -rf "$work"; fi
}

# Keeps of the array `sites` ("name|...") those whose names are given; all when none is.
choose_sites() {  # NAME...
  [ $# -gt 0 ] || return 0
  local chosen=() s o
  for s in "${sites[@]}"; do
    for o in "$@"; do [ "${s%%|*}" = "$o" ] && chosen+=("$s"); done
  done
  sites=("${chosen[@]}")
}

# nginx serving $work/www (gzip on for every text type) on the first free port of 127.0.0.1
# from FIRST_PORT on, with the server directives given besides (a redirect, ...). Sets
# nginx_pid and base; end_workspace ends it.
serve_www() {  # FIRST_PORT NAME-FOR-MESSAGES [SERVER-DIRECTIVES]
  local port
  for port in $(seq "$1" $(($1 + 19))); do
    cat >"$work/nginx/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log;
events { worker_connections 256; }
http {
  include /etc/nginx/mime.types;
  access_log off;
  gzip on;
  gzip_types text/css application/javascript text/javascript application/json image/svg+xml text/plain application/xml;
  server {
    listen 127.0.0.1:$port;
    root $work/www;
    client_body_temp_path $work/nginx/body;
    proxy_temp_path $work/nginx/proxy;
    fastcgi_temp_path $work/nginx/fastcgi;
    uwsgi_temp_path $work/nginx/uwsgi;
    scgi_temp_path $work/nginx/scgi;
    ${3:-}
  }
}
CONF
    nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" &
    nginx_pid=$!
    for _ in $(seq 1 50); do
      curl -s -o /dev/null "http://127.0.0.1:$port/" 2>/dev/null && break
      kill -0 "$nginx_pid" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$nginx_pid" 2>/dev/null; then
      base=http://127.0.0.1:$port
      return 0
    fi
    nginx_pid=
  done
  echo "$2: nginx did not start" >&2
  exit 1
}
