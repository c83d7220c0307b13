#!/usr/bin/env bash
# Runs a command while a qlr-server serves a folder on a free loopback port.
#
#   scripts/with-server.sh [--nginx] [--root FOLDER] COMMAND [ARG...]
#
# With --nginx, nginx serves instead (deploy/nginx/qlr.conf through
# scripts/nginx-local.sh; its check-in log is QLR_NGINX_LOG) while
# `qlr-server publish --watch` keeps the folder's lists current.
# The command sees QLR_UPDATE_BASE_URL (the server's base address, ending in
# "/") and QLR_SERVER_ROOT (the served folder; packages go in its updates/
# folder, check-ins are logged to its checkins.log). Without --root a fresh
# temporary folder is served and removed afterwards. The server is
# build/native/bin/qlr-server unless QLR_SERVER names another. The exit
# status is the command's.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

usage() { sed -n '2,16s/^# \{0,1\}//p' "$0"; }
root= nginx=
case ${1:-} in
  -h|--help) usage; exit 0 ;;
  --nginx) nginx=1; shift ;;
esac
case ${1:-} in
  --root) [ $# -ge 3 ] || { usage >&2; exit 2; }; root=$2; shift 2 ;;
esac
[ $# -ge 1 ] || { usage >&2; exit 2; }

server=${QLR_SERVER:-$here/build/native/bin/qlr-server}
if [ ! -x "$server" ]; then
  echo "with-server.sh: no qlr-server at $server (build the native preset first)" >&2
  exit 2
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/qlr-with-server.XXXXXX")
if [ -z "$root" ]; then root=$scratch/root; fi
mkdir -p "$root/updates"
root=$(cd "$root" && pwd)

pid=
stop() {
  [ -z "$pid" ] || { kill -TERM "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; }
  [ -z "$nginx" ] || "$here/scripts/nginx-local.sh" stop "$scratch/nginx"
  rm -rf "$scratch"
}
trap stop EXIT
trap 'exit 143' TERM INT

if [ -n "$nginx" ]; then
  "$server" publish "$root" >/dev/null
  "$server" publish --watch "$root" >"$scratch/publish.out" 2>&1 &
  pid=$!
  base=$("$here/scripts/nginx-local.sh" start "$scratch/nginx" "$root")
  export QLR_UPDATE_BASE_URL=$base QLR_SERVER_ROOT=$root QLR_NGINX_LOG=$scratch/nginx/checkins.log
  status=0
  "$@" || status=$?
  exit $status
fi

"$server" --root "$root" --port 0 >"$scratch/server.out" 2>&1 &
pid=$!

base=
for _ in $(seq 200); do
  base=$(sed -n 's#^listening on \(http://[^ ]*/\)$#\1#p' "$scratch/server.out" | head -1)
  [ -n "$base" ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.05
done
if [ -z "$base" ]; then
  echo "with-server.sh: qlr-server did not start:" >&2
  cat "$scratch/server.out" >&2
  exit 1
fi

export QLR_UPDATE_BASE_URL=$base QLR_SERVER_ROOT=$root
status=0
"$@" || status=$?
exit $status
