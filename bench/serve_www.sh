# Sourced by the benchmarks that serve documentation sites: nginx serving $work/www (gzip on
# for every text type) on the first free port of 127.0.0.1 from FIRST_PORT on. Sets nginx_pid
# and base; the caller ends nginx_pid.
serve_www() {  # FIRST_PORT NAME-FOR-MESSAGES
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
