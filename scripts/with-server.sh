#!/usr/bin/env bash
# Runs a command while a qlr-server serves a folder on a free loopback port.
#
#   scripts/with-server.sh [--nginx] [--root FOLDER] [--tls] COMMAND [ARG...]
#
# With --nginx, nginx serves instead (deploy/nginx/qlr.conf through
# scripts/nginx-local.sh; its check-in log is QLR_NGINX_LOG) while
# `qlr-server publish --watch` keeps the folder's lists current.
# The command sees QLR_UPDATE_BASE_URL (the server's base address, ending in
# "/") and QLR_SERVER_ROOT (the served folder; packages go in its updates/
# folder, check-ins are logged to its checkins.log). Without --root a fresh
# temporary folder is served and removed afterwards. --tls serves HTTPS at
# https://localhost:PORT/ with certificates of a throw-away test CA, whose
# folder QLR_TEST_CERTIFICATES names (scripts/test-certificates.sh), and the
# same folder at QLR_UNTRUSTED_BASE_URL with a certificate no one trusts.
# The server is build/native/bin/qlr-server unless QLR_SERVER names another.
# The exit status is the command's.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

usage() { sed -n '2,19s/^# \{0,1\}//p' "$0"; }
root=
tls=
nginx=
while :; do
  case ${1:-} in
    -h|--help) usage; exit 0 ;;
    --root) [ $# -ge 3 ] || { usage >&2; exit 2; }; root=$2; shift 2 ;;
    --tls) tls=1; shift ;;
    --nginx) nginx=1; shift ;;
    *) break ;;
  esac
done
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

tlsOptions=()
if [ -n "$tls" ]; then
  "$here/scripts/test-certificates.sh" "$scratch/certificates"
  tlsOptions=(--tls-cert "$scratch/certificates/server.pem" --tls-key "$scratch/certificates/server-key.pem")
  export QLR_TEST_CERTIFICATES=$scratch/certificates
fi
pids=()
stop() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  [ -z "$nginx" ] || "$here/scripts/nginx-local.sh" stop "$scratch/nginx"
  rm -rf "$scratch"
}
trap stop EXIT
trap 'exit 143' TERM INT

if [ -n "$nginx" ]; then
  "$server" publish "$root" >/dev/null
  "$server" publish --watch "$root" >"$scratch/publish.out" 2>&1 &
  pids+=("$!")
  base=$("$here/scripts/nginx-local.sh" start "$scratch/nginx" "$root")
  export QLR_UPDATE_BASE_URL=$base QLR_SERVER_ROOT=$root QLR_NGINX_LOG=$scratch/nginx/checkins.log
  status=0
  "$@" || status=$?
  exit $status
fi

# Starts a server with the given options, logging to $1; sets base to its address.
serve() {
  local out=$1
  shift
  : >"$out"  # there before the first look, however late the server starts
  "$server" --root "$root" --port 0 "$@" >"$out" 2>&1 &
  local pid=$!
  pids+=("$pid")
  base=
  for _ in $(seq 200); do
    base=$(sed -n 's#^listening on \(https\{0,1\}://[^ ]*/\)$#\1#p' "$out" | head -1)
    [ -n "$base" ] && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  echo "with-server.sh: qlr-server did not start:" >&2
  cat "$out" >&2
  exit 1
}

if [ -n "$tls" ]; then
  serve "$scratch/untrusted.out" --tls-cert "$scratch/certificates/untrusted.pem" \
    --tls-key "$scratch/certificates/untrusted-key.pem"
  export QLR_UNTRUSTED_BASE_URL=${base/127.0.0.1/localhost}
fi
serve "$scratch/server.out" "${tlsOptions[@]}"

# Certificates name localhost, not the address.
if [ -n "$tls" ]; then base=${base/127.0.0.1/localhost}; fi
export QLR_UPDATE_BASE_URL=$base QLR_SERVER_ROOT=$root
status=0
"$@" || status=$?
exit $status
