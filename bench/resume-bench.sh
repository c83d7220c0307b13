#!/usr/bin/env bash
# Resume over a flaky link: a package through a loopback proxy that resets
# every connection after a given number of bytes (scripts/reset-proxy.py),
# served by nginx (ranges, ETag). The native tovanel's whole update run
# against `curl -C -` in a retry loop over the same proxy: wall time, and
# the bytes the server sent against the package's size. Prints one line per
# side; bench/RESULTS.md keeps the figures.
#
#   bench/resume-bench.sh [--help]
#
# Environment:
#   QLR_BENCH_DIR       scratch folder (default build/bench-resume)
#   QLR_BENCH_MB        package size in MB (default 100)
#   QLR_BENCH_CUT_MB    the proxy resets after this many MB (default 20)
#   QLR_BENCH_BUILD     a native release build with tovanel, standin, qlrpak and
#                       qlr-server (default build/release, built when missing)
set -euo pipefail
if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then sed -n '2,16s/^# \{0,1\}//p' "$0"; exit 0; fi
cd "$(dirname "$0")/.."
top=$PWD
work=${QLR_BENCH_DIR:-$top/build/bench-resume}
mb=${QLR_BENCH_MB:-100}
cut=$(( ${QLR_BENCH_CUT_MB:-20} * 1024 * 1024 ))
build=${QLR_BENCH_BUILD:-$top/build/release}
if [ ! -x "$build/bin/tovanel" ]; then
  cmake --preset release >/dev/null
  cmake --build "$build" -j"${QLR_JOBS:-2}" --target tovanel standin qlrpak qlr-server >/dev/null
fi
bin=$build/bin
rm -rf "$work" && mkdir -p "$work/root/updates"
work=$(cd "$work" && pwd)

half=$(( mb / 2 ))
head -c "${half}M" /dev/urandom >"$work/random.bin"
head -c "$(( half * 1024 * 1024 * 3 / 4 ))" /dev/urandom | base64 -w 76 >"$work/text.txt"
"$bin/qlrpak" create "$work/root/updates/QLR6-39.pak" "C:\\TSLData\\QLR\\QLR6-39.exe=$bin/standin" \
  "C:\\TSLData\\QLR\\random.bin=$work/random.bin" "C:\\TSLData\\QLR\\text.txt=$work/text.txt" >/dev/null
rm "$work/random.bin" "$work/text.txt"
size=$(stat -c %s "$work/root/updates/QLR6-39.pak")
"$bin/qlr-server" publish "$work/root" >/dev/null

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  "$top/scripts/nginx-local.sh" stop "$work/nginx" || true
}
trap cleanup EXIT
origin=$("$top/scripts/nginx-local.sh" start "$work/nginx" "$work/root")
upstream=${origin#http://}
upstream=${upstream%/}

proxy() {  # proxy NAME: sets base, its count file is $work/NAME.count
  python3 "$top/scripts/reset-proxy.py" --upstream "$upstream" --every "$cut" --count "$work/$1.count" \
    >"$work/$1.out" 2>&1 &
  pids+=($!)
  proxy_pid=$!
  for _ in $(seq 100); do
    base=$(head -1 "$work/$1.out")
    [ -n "$base" ] && return
    sleep 0.05
  done
  echo "the proxy did not start" >&2; exit 1
}
finish() {  # finish NAME: stops its proxy, prints the bytes the server sent
  kill -TERM "$proxy_pid"
  for _ in $(seq 100); do [ -s "$work/$1.count" ] && break; sleep 0.05; done
  cat "$work/$1.count"
}
report() {  # report WHAT SECONDS BYTES
  printf '%s: %s s, server sent %s bytes for a %s-byte package (%sx)\n' "$1" "$2" "$3" "$size" \
    "$(python3 -c "print(f'{$3 / $size:.3f}')")"
}

# The native Startup copy with the suite at 6-38 downloads and unpacks QLR6-39 in one run.
machine=$work/machine
"$bin/tovanel" --root "$machine" --init office >/dev/null
c=$machine/drive_c
mkdir -p "$c/TSLData/QLR" "$c/SchoolData" "$c/Temp/QLR"
cp "$bin/tovanel" "$c/TSLData/QLR/Tovanel.exe"
cp "$bin/standin" "$c/TSLData/QLR/QLR6-38.exe"
cp "$bin/standin" "$c/TSLData/QLR/Shifter.exe"
echo blank >"$c/SchoolData/mydata.ib"
proxy tovanel
start=$(date +%s.%N)
QLR_SANDBOX_ROOT=$machine QLR_UPDATE_BASE_URL=$base "$c/TSLData/QLR/Tovanel.exe" || true
seconds=$(python3 -c "print(f'{$(date +%s.%N) - $start:.2f}')")
log="$c/Temp/QLR/InstallLog Startup.txt"
grep -q '^\.\.\. OK' "$log" || { echo "the update run did not complete:" >&2; cat "$log" >&2; exit 1; }
cmp -s "$c/Temp/QLR/QLR6-39.pak" "$work/root/updates/QLR6-39.pak" || { echo "the download differs" >&2; exit 1; }
report "tovanel, one run ($(grep -c '^Download resumed at' "$log") resumes)" "$seconds" "$(finish tovanel)"

proxy curl
start=$(date +%s.%N)
tries=0
until curl -sf -C - -o "$work/curl.pak" "${base}updates/QLR6-39.pak"; do tries=$((tries + 1)); done
seconds=$(python3 -c "print(f'{$(date +%s.%N) - $start:.2f}')")
cmp -s "$work/curl.pak" "$work/root/updates/QLR6-39.pak" || { echo "curl's download differs" >&2; exit 1; }
report "curl -C - in a retry loop ($tries retries)" "$seconds" "$(finish curl)"
