#!/usr/bin/env bash
# Runs nginx with deploy/nginx/qlr.conf as an ordinary process: its own
# prefix, configuration, pid file, temporary folders and logs in DIR, on a
# free loopback port; never the system service.
#
#   scripts/nginx-local.sh start DIR ROOT [CERT KEY]   prints the base address
#   scripts/nginx-local.sh stop DIR
#
# ROOT is the served folder (updates/, published/). With CERT and KEY it
# serves HTTPS as https://localhost:PORT/. Check-ins go to DIR/checkins.log.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
usage() { sed -n '2,10s/^# \{0,1\}//p' "$0"; }

stop() {
  local dir=$1 pid
  [ -f "$dir/nginx.pid" ] || return 0
  pid=$(cat "$dir/nginx.pid")
  kill -TERM "$pid" 2>/dev/null || return 0
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null || true
}

# render PORT: deploy/nginx/qlr.conf with this run's port, folders and certificate
render() {
  local port=$1 out=$dir/qlr.conf
  if [ -n "$cert" ]; then
    sed -e '/^ *listen 80; /d' \
        -e "s|^\( *\)# listen 443 ssl; |\1listen 127.0.0.1:$port ssl; |" \
        -e "s|^\( *\)# ssl_certificate  *[^;]*;|\1ssl_certificate $cert;|" \
        -e "s|^\( *\)# ssl_certificate_key  *[^;]*;|\1ssl_certificate_key $key;|" \
        "$conf" >"$out.new"
  else
    sed -e "s|^\( *\)listen 80; |\1listen 127.0.0.1:$port; |" "$conf" >"$out.new"
  fi
  sed -e "s|^\( *\)root /srv/qlr; |\1root $root; |" \
      -e "s|/var/log/nginx/qlr-checkins.log|$dir/checkins.log|" "$out.new" >"$out"
  rm -f "$out.new"
  # Every site line must have been set, or the test would not test the shipped file.
  grep -q "root $root; " "$out" && [ "$(grep -c "$dir/checkins.log" "$out")" = 2 ] &&
    grep -q "listen 127.0.0.1:$port" "$out" ||
    { echo "nginx-local.sh: $conf no longer has the expected site lines" >&2; exit 1; }
}

case ${1:-} in
  stop) [ $# -eq 2 ] || { usage >&2; exit 2; }; stop "$2"; exit 0 ;;
  start) [ $# -eq 3 ] || [ $# -eq 5 ] || { usage >&2; exit 2; } ;;
  -h|--help) usage; exit 0 ;;
  *) usage >&2; exit 2 ;;
esac
dir=$2 root=$(cd "$3" && pwd) cert=${4:-} key=${5:-}
conf=$here/deploy/nginx/qlr.conf
mkdir -p "$dir/tmp"
dir=$(cd "$dir" && pwd)
command -v nginx >/dev/null || [ -x /usr/sbin/nginx ] || { echo "nginx-local.sh: nginx is not installed" >&2; exit 1; }
nginx=$(command -v nginx || echo /usr/sbin/nginx)
user_line=""
[ "$(id -u)" -ne 0 ] || user_line="user $(id -un);"  # workers read the test folders as their owner

for _ in $(seq 20); do
  port=$((20000 + RANDOM % 40000))
  render "$port"
  cat >"$dir/nginx.conf" <<CONF
$user_line
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections 1024; }
http {
    access_log $dir/access.log;
    client_body_temp_path $dir/tmp/body;
    proxy_temp_path $dir/tmp/proxy;
    fastcgi_temp_path $dir/tmp/fastcgi;
    uwsgi_temp_path $dir/tmp/uwsgi;
    scgi_temp_path $dir/tmp/scgi;
    include $dir/qlr.conf;
}
CONF
  if "$nginx" -p "$dir/" -c "$dir/nginx.conf" -e "$dir/error.log" 2>"$dir/start.err"; then
    for _ in $(seq 100); do [ -s "$dir/nginx.pid" ] && break; sleep 0.05; done
    if [ -n "$cert" ]; then echo "https://localhost:$port/"; else echo "http://127.0.0.1:$port/"; fi
    exit 0
  fi
  grep -q "Address already in use" "$dir/start.err" "$dir/error.log" 2>/dev/null || break
done
echo "nginx-local.sh: nginx did not start:" >&2
cat "$dir/start.err" >&2
exit 1
