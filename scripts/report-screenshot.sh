#!/usr/bin/env bash
# The check-in report's picture for the README (docs/checkin-report.png):
# a generated month of check-ins of 400 schools (weekdays only, a few that
# stop checking in, 6-40 rolled out from 10% to 100%), reported and shot
# with headless Chromium.
#
#   scripts/report-screenshot.sh [OUTPUT.png]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/checkin-report.png}
server=${QLR_SERVER:-build/native/bin/qlr-server}
[ -x "$server" ] || { echo "report-screenshot.sh: no qlr-server at $server (build the native preset)" >&2; exit 2; }
work=$(mktemp -d "${TMPDIR:-/tmp}/qlr-report-shot.XXXXXX")
trap 'rm -rf "$work"' EXIT

awk 'BEGIN {
  srand(7)
  for (d = 1; d <= 30; d++) {
    wd = (d + 6) % 7; if (wd == 0 || wd == 6) continue            # 2026-11-01 is a Sunday
    share = d < 10 ? 10 : (d < 17 ? 25 : (d < 22 ? 60 : 100))     # the rollout of 6-40
    for (s = 0; s < 400; s++) {
      if (s >= 388 && d > s - 370) continue                        # a few schools go quiet
      if (rand() < 0.06) continue                                  # and some miss a day
      h = 7 + int(rand() * 3); m = int(rand() * 60); sec = int(rand() * 40)
      t = sprintf("2026-11-%02d %02d:%02d:%02d", d, h, m, sec)
      a = "10.1." int(s / 200) "." (s % 200)
      printf "%s\t%s\tSchool=School %d\tSMSID=%d\tUSER=office\n", t, a, s, 5000 + s
      if (!got[s] && (s * 37) % 100 < share) { got[s] = 1
        printf "2026-11-%02d %02d:%02d:%02d\t%s\tPackage=QLR6-40.pak\tStatus=200\tBytes=31000000\tComplete=OK\n",
               d, h, m, sec + 15, a }
    }
  } }' | sort >"$work/checkins.log"
"$server" report --days 5 --output "$work/report.html" "$work/checkins.log"
mkdir -p "$(dirname "$out")"
timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-background-networking \
  --disable-component-update --disable-sync --no-first-run --user-data-dir="$work/profile" \
  --hide-scrollbars --window-size=820,1380 --screenshot="$PWD/$out" "file://$work/report.html" 2>/dev/null
echo "$out"
