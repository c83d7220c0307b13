#!/usr/bin/env bash
# Update server figures (release build of qlr-server):
#   1. `qlr-server report` over a generated log of LINES lines (default one
#      million: a month of 5,000 schools, both log formats, a few damaged
#      lines): wall time and peak memory (/usr/bin/time).
#   2. The time a list request takes while 50 slow clients hold connections
#      (half sending a header byte a second, half idle): median of 20 curls.
#
#   bench/server-bench.sh [LINES]
set -euo pipefail
cd "$(dirname "$0")/.."
lines=${1:-1000000}
[ "${1:-}" != "--help" ] || { sed -n '2,9s/^# \{0,1\}//p' "$0"; exit 0; }
cmake --preset release >/dev/null
cmake --build --preset release -j"${QLR_JOBS:-2}" --target qlr-server >/dev/null
server=$PWD/build/release/bin/qlr-server
work=$(mktemp -d "${TMPDIR:-/tmp}/qlr-server-bench.XXXXXX")
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT

# A month of check-ins: school s checks in once a day from 10.<s>; every
# 40th line is a package download; odd days in nginx's format.
awk -v n="$lines" 'BEGIN {
  for (i = 0; i < n; i++) {
    d = int(i * 30 / n) + 1; s = i % 5000; m = int((i % 86400) / 60) % 60; h = int(i / 3600) % 24
    if (i % 250000 == 7) { print "damaged line " i; continue }
    if (d % 2) t = sprintf("2026-11-%02dT%02d:%02d:%02d+01:00", d, h, m, i % 60)
    else t = sprintf("2026-11-%02d %02d:%02d:%02d", d, h, m, i % 60)
    a = "10." int(s / 250) "." (s % 250) ".1"
    if (i % 40 == 39) printf "%s\t%s\tPackage=QLR6-%d.pak\tStatus=200\tBytes=3000000\tComplete=OK\n", t, a, 38 + (d > 15)
    else if (s % 2) printf "%s\t%s\tSchool=School%%20%d\tSMSID=x\tUSER=office\n", t, a, s
    else printf "%s\t%s\tSchool=School %d\tSMSID=%d\tUSER=office\n", t, a, s, 90000 + s
  } }' >"$work/checkins.log"
echo "report over $(wc -l <"$work/checkins.log") lines ($(du -h "$work/checkins.log" | cut -f1)):"
/usr/bin/time -f "  %e s wall, %U s user CPU, %M KB peak memory" "$server" report --output "$work/report.html" "$work/checkins.log"

mkdir -p "$work/root/updates"
head -c 3000000 /dev/urandom >"$work/root/updates/QLR6-39.pak"
"$server" --root "$work/root" --port 0 >"$work/server.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q listening "$work/server.out" && break; sleep 0.05; done
base=$(sed -n 's/^listening on \(http[^ ]*\)$/\1/p' "$work/server.out")
port=${base##*:}; port=${port%/}
slow() {  # one client: a request line, then a header byte a second (or nothing)
  exec 3<>"/dev/tcp/127.0.0.1/$port"
  if [ "$1" = trickle ]; then printf 'GET /index.php HTTP/1.1\r\n' >&3; for _ in $(seq 30); do printf X >&3 || exit 0; sleep 1; done
  else sleep 30; fi
}
for i in $(seq 50); do if [ $((i % 2)) = 0 ]; then slow trickle & else slow idle & fi; pids+=($!); done
sleep 1
for _ in $(seq 20); do
  curl -s -o /dev/null -w '%{time_total}\n' "${base}index.php?School=x&SMSID=x&USER=bench"
done | sort -n | awk '{ t[NR] = $1 } END { printf "list request with 50 slow clients: median %.4f s, worst %.4f s (20 requests)\n", t[int((NR + 1) / 2)], t[NR] }'
