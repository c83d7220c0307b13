#!/usr/bin/env bash
# The update path measured side by side with the plain tools, in one run:
#   a) the program's download of a ~100 MB package from qlr-server on
#      loopback, against `curl -o` of the same address;
#   b) the program's unpacking of that package, against a plain zlib
#      inflate of the same streams to files (bench/inflate_baseline.cpp);
#   c) peak resident memory of whole `tovanel` update runs with packages of
#      about 10 MB and 200 MB, which must be the same.
# Goals: download within 1.5x of curl, unpack within 1.3x of plain zlib,
# peak memory independent of the package size.
#
#   bench/update-bench.sh [--help]
# Environment: QLR_BENCH_BUILD (build folder, default build/release),
# QLR_BENCH_DIR (scratch, default build/bench), QLR_BENCH_RUNS (best of N, default 3).
set -euo pipefail
if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then sed -n '2,16s/^# \{0,1\}//p' "$0"; exit 0; fi
[ $# -eq 0 ] || { echo "update-bench.sh: no arguments expected (see --help)" >&2; exit 2; }
cd "$(dirname "$0")/.."
top=$PWD
build=${QLR_BENCH_BUILD:-$top/build/release}
work=${QLR_BENCH_DIR:-$top/build/bench}
runs=${QLR_BENCH_RUNS:-3}
jobs=${QLR_JOBS:-2}

rm -rf "$work"
mkdir -p "$work"
echo "building (release) ..."
{ cmake --preset release -B "$build" &&
  cmake --build "$build" -j"$jobs" --target tovanel standin qlrpak qlr-server; } \
  >"$work/build.log" 2>&1 || { cat "$work/build.log" >&2; exit 1; }
bin=$build/bin
g++ -O2 -std=c++20 -I"$top/src" bench/update_bench.cpp \
    "$build/libtovanel_platform.a" "$build/libtovanel_core.a" \
    -lcurl -lz -lpthread -o "$work/update_bench"
g++ -O2 bench/inflate_baseline.cpp -lz -o "$work/inflate_baseline"

# package NAME RANDOM_MB TEXT_MB: half incompressible, half text-like (base64, about 3:4)
package() {
  local dir=$work/$1; mkdir -p "$dir/updates"
  head -c "$2M" /dev/urandom >"$dir/random.bin"
  head -c "$3M" /dev/urandom | base64 -w 76 >"$dir/text.txt"
  "$bin/qlrpak" create "$dir/updates/QLR6-39.pak" "C:\\TSLData\\QLR\\QLR6-39.exe=$bin/standin" \
    "C:\\TSLData\\QLR\\random.bin=$dir/random.bin" "C:\\TSLData\\QLR\\text.txt=$dir/text.txt" >/dev/null
  rm "$dir/random.bin" "$dir/text.txt"
}
echo "making packages ..."
package p100 50 50
package p10 5 5
package p200 100 100
mb() { awk -v b="$(stat -c %s "$1")" 'BEGIN { printf "%.1f MB", b / 1048576 }'; }

# serve runs in a subshell ($(...)), so the servers are found again by their pid files.
cleanup() {
  for file in "$work"/*/server.pid; do
    [ -f "$file" ] && kill -TERM "$(cat "$file")" 2>/dev/null || true
  done
}
trap cleanup EXIT
serve() {  # serve DIR: prints the base address
  "$bin/qlr-server" --root "$1" --port 0 >"$1/server.out" 2>&1 &
  echo $! >"$1/server.pid"
  for _ in $(seq 200); do
    local base; base=$(sed -n 's#^listening on \(http://[^ ]*/\)$#\1#p' "$1/server.out" | head -1)
    [ -n "$base" ] && { echo "$base"; return; }
    sleep 0.05
  done
  echo "qlr-server did not start" >&2; exit 1
}
now() { date +%s.%N; }
best() { sort -g | head -1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

base100=$(serve "$work/p100")
root=$work/machine
"$bin/tovanel" --root "$root" --init office >/dev/null
mkdir -p "$root/drive_c/Temp/QLR" "$root/drive_c/TSLData/QLR"
url=${base100}updates/QLR6-39.pak

echo "a) download of $(mb "$work/p100/updates/QLR6-39.pak"), best of $runs ..."
ours=(); theirs=()
for _ in $(seq "$runs"); do
  s=$(now); curl -s -o "$work/curl.pak" "$url"; e=$(now)
  theirs+=("$(awk -v s="$s" -v e="$e" 'BEGIN { printf "%.3f", e - s }')")
  ours+=("$("$work/update_bench" download "$root" "$url")")
done
cmp -s "$work/curl.pak" "$root/drive_c/Temp/QLR/bench.pak" || { echo "downloads differ" >&2; exit 1; }
dl_ours=$(printf '%s\n' "${ours[@]}" | best); dl_curl=$(printf '%s\n' "${theirs[@]}" | best)

echo "b) unpack, best of $runs ..."
ours=(); theirs=()
mkdir -p "$work/plain"
for _ in $(seq "$runs"); do
  rm -f "$work"/plain/* "$root"/drive_c/TSLData/QLR/*
  theirs+=("$("$work/inflate_baseline" "$root/drive_c/Temp/QLR/bench.pak" "$work/plain")")
  ours+=("$("$work/update_bench" unpack "$root")")
done
cmp -s "$work/plain/3" "$root/drive_c/TSLData/QLR/text.txt" || { echo "unpacked files differ" >&2; exit 1; }
up_ours=$(printf '%s\n' "${ours[@]}" | best); up_zlib=$(printf '%s\n' "${theirs[@]}" | best)
rm -rf "$work/plain" "$work/curl.pak"

# A whole startup run that finds QLR6-39 on the server, downloads and unpacks it.
peak() {  # peak NAME: kilobytes
  local dir=$work/$1 machine=$work/machine-$1 base
  base=$(serve "$dir")
  "$bin/tovanel" --root "$machine" --init office >/dev/null
  local c=$machine/drive_c
  mkdir -p "$c/TSLData/QLR" "$c/SchoolData"
  cp "$bin/tovanel" "$c/TSLData/QLR/Tovanel.exe"
  cp "$bin/standin" "$c/TSLData/QLR/QLR6-38.exe"
  cp "$bin/standin" "$c/TSLData/QLR/Shifter.exe"
  echo "blank" >"$c/SchoolData/mydata.ib"
  QLR_SANDBOX_ROOT=$machine QLR_SANDBOX_FAST=1 QLR_UPDATE_BASE_URL=$base \
    /usr/bin/time -f %M -o "$work/$1.rss" "$c/TSLData/QLR/Tovanel.exe" >/dev/null 2>&1
  for _ in $(seq 100); do [ -f "$c/Temp/QLR/InstallLog Startup.txt" ] && break; sleep 0.1; done
  grep -q '^\.\.\. OK' "$c/Temp/QLR/InstallLog Startup.txt" ||
    { echo "the $1 update run failed" >&2; exit 1; }
  cat "$work/$1.rss"
  rm -rf "$machine"
}
echo "c) peak memory of whole update runs ..."
rss10=$(peak p10); rss200=$(peak p200)

echo
printf '%-44s %10s %10s %7s %6s\n' "" "tovanel" "baseline" "ratio" "goal"
printf '%-44s %9ss %9ss %7s %6s\n' "download $(mb "$work/p100/updates/QLR6-39.pak") (vs curl -o)" \
  "$dl_ours" "$dl_curl" \
  "$(ratio "$dl_ours" "$dl_curl")" "1.5"
printf '%-44s %9ss %9ss %7s %6s\n' "unpack (vs plain zlib inflate)" "$up_ours" "$up_zlib" \
  "$(ratio "$up_ours" "$up_zlib")" "1.3"
printf '%-44s %8sKB %8sKB %7s %6s\n' \
  "peak RSS: $(mb "$work/p200/updates/QLR6-39.pak") vs $(mb "$work/p10/updates/QLR6-39.pak") package" \
  "$rss200" "$rss10" "$(ratio "$rss200" "$rss10")" "1.0"
