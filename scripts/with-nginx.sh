#!/usr/bin/env bash
# Runs a command while nginx (deploy/nginx/qlr.conf, scripts/nginx-local.sh)
# serves a folder on a free loopback port, and `qlr-server publish --watch`
# keeps that folder's lists current.
#
#   scripts/with-nginx.sh [--root FOLDER] COMMAND [ARG...]
#
# The command sees QLR_UPDATE_BASE_URL (nginx's base address), QLR_SERVER_ROOT
# (the served folder; packages go in its updates/ folder) and QLR_NGINX_LOG
# (nginx's check-in log). Without --root a fresh temporary folder is served
# and removed afterwards. The exit status is the command's.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
usage() { sed -n '2,12s/^# \{0,1\}//p' "$0"; }
root=
case ${1:-} in
  -h|--help) usage; exit 0 ;;
  --root) [ $# -ge 3 ] || { usage >&2; exit 2; }; root=$2; shift 2 ;;
esac
[ $# -ge 1 ] || { usage >&2; exit 2; }
server=${QLR_SERVER:-$here/build/native/bin/qlr-server}
[ -x "$server" ] || { echo "with-nginx.sh: no qlr-server at $server (build the native preset first)" >&2; exit 2; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/qlr-with-nginx.XXXXXX")
[ -n "$root" ] || root=$scratch/root
mkdir -p "$root/updates"
root=$(cd "$root" && pwd)
watcher=
stop() {
  [ -z "$watcher" ] || { kill -TERM "$watcher" 2>/dev/null || true; wait "$watcher" 2>/dev/null || true; }
  "$here/scripts/nginx-local.sh" stop "$scratch/nginx"
  rm -rf "$scratch"
}
trap stop EXIT
trap 'exit 143' TERM INT

"$server" publish "$root" >/dev/null
"$server" publish --watch "$root" >"$scratch/publish.out" 2>&1 &
watcher=$!
base=$("$here/scripts/nginx-local.sh" start "$scratch/nginx" "$root")
export QLR_UPDATE_BASE_URL=$base QLR_SERVER_ROOT=$root QLR_NGINX_LOG=$scratch/nginx/checkins.log
status=0
"$@" || status=$?
exit $status
