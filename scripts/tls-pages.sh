#!/usr/bin/env bash
# Serves whole HTTPS replies for the tests of what a client makes of them:
# FOLDER/pages/NAME holds the status line, headers and body that
# https://localhost:PORT/NAME answers (openssl s_server -HTTP), under a
# certificate of a throw-away test CA in FOLDER/certificates
# (scripts/test-certificates.sh). One connection at a time.
#
#   scripts/tls-pages.sh start FOLDER   prints the base address, ending in "/"
#   scripts/tls-pages.sh stop FOLDER
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -ne 2 ] || { [ "$1" != start ] && [ "$1" != stop ]; }; then
  sed -n '2,10s/^# \{0,1\}//p' "$0" >&2
  exit 2
fi
folder=$2
if [ "$1" = stop ]; then
  if [ -f "$folder/pid" ]; then kill -TERM "$(cat "$folder/pid")" 2>/dev/null || true; fi
  exit 0
fi
mkdir -p "$folder/pages"
"$here/test-certificates.sh" "$folder/certificates"
cd "$folder/pages"
: >"$folder/server.out"
openssl s_server -accept 0 -cert ../certificates/server.pem -key ../certificates/server-key.pem -HTTP \
  </dev/null >"$folder/server.out" 2>&1 &
echo $! >"$folder/pid"
for _ in $(seq 100); do
  port=$(sed -n 's/^ACCEPT .*:\([0-9][0-9]*\)$/\1/p' "$folder/server.out")
  if [ -n "$port" ]; then
    echo "https://localhost:$port/"
    exit 0
  fi
  sleep 0.05
done
echo "tls-pages.sh: openssl s_server did not start" >&2
cat "$folder/server.out" >&2
exit 1
