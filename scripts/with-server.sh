#!/usr/bin/env bash
# Runs a command while a qlr-server serves a folder on a free loopback port.
#
#   scripts/with-server.sh [--root FOLDER] COMMAND [ARG...]
#
# The command sees QLR_UPDATE_BASE_URL (the server's base address, ending in
# "/") and QLR_SERVER_ROOT (the served folder; packages go in its updates/
# folder, check-ins are logged to its checkins.log). Without --root a fresh
# temporary folder is served and removed afterwards. The server is
# build/native/bin/qlr-server unless QLR_SERVER names another. The exit
# status is the command's.
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
if [ ! -x "$server" ]; then
  echo "with-server.sh: no qlr-server at $server (build the native preset first)" >&2
  exit 2
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/qlr-with-server.XXXXXX")
if [ -z "$root" ]; then root=$scratch/root; fi
mkdir -p "$root/updates"
root=$(cd "$root" && pwd)

: >"$scratch/server.out"  # there before the first look, however late the server starts
"$server" --root "$root" --port 0 >"$scratch/server.out" 2>&1 &
pid=$!
stop() {
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  rm -rf "$scratch"
}
trap stop EXIT

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
