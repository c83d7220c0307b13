#!/usr/bin/env bash
# The whole benchmark in one command: every figure is a pair of whole
# processes run in turn (A B A B ...), reported as the median of each side
# and the median ratio A/B with its spread (bench/pairs.py). Writes
# bench/RESULTS.md (machine, date, table) and keeps the raw figures in
# QLR_BENCH_DIR/results.jsonl.
#
#   bench/run.sh [--help]
#
# Environment:
#   QLR_BENCH_SOURCE   tree to build and measure (default: this one); its
#                      figures go beside bench/today.jsonl in the table
#   QLR_BENCH_DIR      scratch folder (default build/bench)
#   QLR_BENCH_RUNS     counted pairs per figure (default 5)
#   QLR_BENCH_MB       download/unpack package size in MB (default 100)
#   QLR_BENCH_WINE_MB  package size for the real Tovanel.exe run (default QLR_BENCH_MB)
#   QLR_BENCH_AB       list requests per ab run (default 2000; packages: 2 per client)
#   QLR_BENCH_ONLY     space-separated letters of the parts to run (default "a b c d e f")
#   QLR_BENCH_SAVE     write the figures to this .jsonl instead of RESULTS.md
#                      (how bench/today.jsonl was made)
set -euo pipefail
if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then sed -n '2,22s/^# \{0,1\}//p' "$0"; exit 0; fi
[ $# -eq 0 ] || { echo "run.sh: no arguments expected (see --help)" >&2; exit 2; }
cd "$(dirname "$0")/.."
top=$PWD
# One virtual display for every Wine run, so none pays for its own.
if [ -z "${DISPLAY:-}" ]; then exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0"; fi
# The Wine figures use the build this machine runs; the size is always the
# shipped 32-bit Tovanel.exe's.
. scripts/windows-build.sh
choose_windows_build

src=$(cd "${QLR_BENCH_SOURCE:-$top}" && pwd)
work=${QLR_BENCH_DIR:-$top/build/bench}
mkdir -p "$work" && work=$(cd "$work" && pwd)  # Wine wants an absolute prefix
export QLR_BENCH_RUNS=${QLR_BENCH_RUNS:-5}
mb=${QLR_BENCH_MB:-100}
wine_mb=${QLR_BENCH_WINE_MB:-$mb}
ab_requests=${QLR_BENCH_AB:-2000}
only=" ${QLR_BENCH_ONLY:-a b c d e f} "
jobs=${QLR_JOBS:-2}
pairs=$top/bench/pairs.py
wants() { [[ $only == *" $1 "* ]]; }

rm -rf "$work/run"
mkdir -p "$work/run"
run=$work/run
export QLR_BENCH_RESULTS=$run/results.jsonl
: >"$QLR_BENCH_RESULTS"

# ---- builds ----------------------------------------------------------------
echo "building $src (native and Windows release) ..."
nat=$work/build-native win32=$work/build-windows win=$work/build-windows
triplet=i686-w64-mingw32
if [ "$windows_bits" = 64 ]; then win=$work/build-windows64 triplet=x86_64-w64-mingw32; fi
{ cmake -S "$src" -B "$nat" -DCMAKE_BUILD_TYPE=Release -DQLR_TESTS=OFF &&
  cmake --build "$nat" -j"$jobs" --target tovanel standin qlrpak qlr-server &&
  cmake -S "$src" -B "$win32" --toolchain "$src/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release -DQLR_TESTS=OFF &&
  cmake --build "$win32" -j"$jobs" --target tovanel standin &&
  cmake -S "$src" -B "$win" --toolchain "$src/cmake/mingw-${triplet%%-*}.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DQLR_TESTS=OFF &&
  cmake --build "$win" -j"$jobs" --target tovanel standin; } >"$run/build.log" 2>&1 ||
  { tail -30 "$run/build.log" >&2; exit 1; }
bin=$nat/bin
g++ -O2 -std=c++20 -I"$src/src" bench/update_bench.cpp "$nat/libtovanel_platform.a" "$nat/libtovanel_core.a" \
    "$nat/libtovanel_crypto.a" -lcurl -lcrypto -lz -lpthread -o "$run/update_bench"
g++ -O2 bench/inflate_baseline.cpp -lz -o "$run/inflate_baseline"
g++ -O2 bench/trivial_launcher.cpp -o "$run/trivial_launcher"
$triplet-g++-posix -O2 -mwindows -static bench/trivial_launcher.cpp -o "$run/trivial_launcher.exe"
$triplet-g++-posix -O2 -std=c++20 -DWIN32_LEAN_AND_MEAN -DNOMINMAX -I"$src/src" bench/update_bench.cpp \
    "$win/libtovanel_platform.a" "$win/libtovanel_core.a" "$win/libtovanel_crypto.a" "$win/libtovanel_system_dlls.a" \
    "/usr/$triplet/lib/libz.a" \
    -static -lbcrypt -lwininet -lole32 -loleaut32 -luuid -lshell32 -lgdi32 -luser32 -ladvapi32 -lcomctl32 -o "$run/update_bench.exe"
exe=$win/bin/Tovanel.exe
i686-w64-mingw32-strip -o "$run/Tovanel-stripped.exe" "$win32/bin/Tovanel.exe"
exe_kb=$(( $(stat -c %s "$run/Tovanel-stripped.exe") / 1024 ))

# ---- packages: half random bytes, half base64 text -------------------------
package() {  # package NAME MB
  local dir=$run/$1 half=$(( $2 / 2 )); mkdir -p "$dir/updates"
  head -c "${half}M" /dev/urandom >"$dir/random.bin"
  head -c "$(( half * 1024 * 1024 * 3 / 4 ))" /dev/urandom | base64 -w 76 >"$dir/text.txt"
  "$bin/qlrpak" create "$dir/updates/QLR6-39.pak" "C:\\TSLData\\QLR\\QLR6-39.exe=$bin/standin" \
    "C:\\TSLData\\QLR\\random.bin=$dir/random.bin" "C:\\TSLData\\QLR\\text.txt=$dir/text.txt" >/dev/null
  rm "$dir/random.bin" "$dir/text.txt"
}
echo "making packages ..."
package big "$mb"
package p10 10
wants d && package p200 200
[ "$wine_mb" = "$mb" ] || package wine "$wine_mb"
wine_dir=$run/big; [ "$wine_mb" = "$mb" ] || wine_dir=$run/wine

# ---- servers ---------------------------------------------------------------
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null || true
}
trap cleanup EXIT
serve() {  # serve DIR: sets $base
  "$bin/qlr-server" --root "$1" --port 0 >"$1/server.out" 2>&1 &
  pids+=($!)
  for _ in $(seq 200); do
    base=$(sed -n 's#^listening on \(http://[^ ]*/\)$#\1#p' "$1/server.out" | head -1)
    [ -n "$base" ] && return
    sleep 0.05
  done
  echo "qlr-server did not start" >&2; exit 1
}
serve "$run/big"; big_base=$base
pak=updates/QLR6-39.pak

# A sandbox machine with the suite at 6-38 and its Startup copy.
machine() {  # machine DIR
  rm -rf "$1"
  "$bin/tovanel" --root "$1" --init office >/dev/null
  local c=$1/drive_c
  mkdir -p "$c/TSLData/QLR" "$c/SchoolData" "$c/Temp/QLR"
  cp "$bin/tovanel" "$c/TSLData/QLR/Tovanel.exe"
  cp "$bin/standin" "$c/TSLData/QLR/QLR6-38.exe"
  cp "$bin/standin" "$c/TSLData/QLR/Shifter.exe"
  echo "blank" >"$c/SchoolData/mydata.ib"
}
export -f machine
export bin

# ---- a) native download, c) native unpack ----------------------------------
root=$run/machine
machine "$root"
if wants a; then
  echo "a) native download of ${mb} MB against curl -o ..."
  python3 "$pairs" "a. download, native tovanel vs curl -o [${mb} MB]" -- \
    "$run/update_bench" download "$root" "$big_base$pak" --vs curl -s -o "$run/curl.pak" "$big_base$pak"
  cmp -s "$run/curl.pak" "$root/drive_c/Temp/QLR/bench.pak" || { echo "downloads differ" >&2; exit 1; }
fi
if wants c; then
  cp "$run/big/$pak" "$root/drive_c/Temp/QLR/bench.pak"
  mkdir -p "$run/plain"
  echo "c) native unpack against plain zlib inflate ..."
  python3 "$pairs" "c. unpack, native tovanel vs plain zlib inflate [${mb} MB]" \
    --prep-a "rm -f '$root'/drive_c/TSLData/QLR/random.bin '$root'/drive_c/TSLData/QLR/text.txt" \
    --prep-b "rm -f '$run'/plain/*" -- \
    "$run/update_bench" unpack "$root" --vs "$run/inflate_baseline" "$root/drive_c/Temp/QLR/bench.pak" "$run/plain"
  cmp -s "$run/plain/3" "$root/drive_c/TSLData/QLR/text.txt" || { echo "unpacked files differ" >&2; exit 1; }
  # The unpack flushes every entry before the commit; so does this anchor.
  echo "c) native unpack against zlib inflate and a flush of the same files to disk ..."
  python3 "$pairs" "c. unpack, native tovanel vs zlib inflate and flush to disk [${mb} MB]" \
    --prep-a "rm -f '$root'/drive_c/TSLData/QLR/random.bin '$root'/drive_c/TSLData/QLR/text.txt" \
    --prep-b "rm -f '$run'/plain/*" -- \
    "$run/update_bench" unpack "$root" \
    --vs "$run/inflate_baseline" "$root/drive_c/Temp/QLR/bench.pak" "$run/plain" --flush
fi

# ---- Wine: its own prefix, one server process kept for all runs ------------
if wants b || wants c || wants f; then
  export WINEPREFIX=$work/wineprefix${windows_bits#32} WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  echo "preparing the Wine prefix ..."
  "$top/scripts/wine-run.sh" "$run/update_bench.exe" >/dev/null 2>&1 || true  # makes the prefix
  wineserver -k 2>/dev/null || true
  wineserver -p  # stays for every run: none pays for its start
  wc=$WINEPREFIX/drive_c
  wine_machine() {
    rm -rf "$wc/TSLData" "$wc/Temp/QLR" "$wc/SchoolData"
    mkdir -p "$wc/TSLData/QLR" "$wc/SchoolData" "$wc/Temp/QLR"
    cp "$exe" "$wc/TSLData/QLR/Tovanel.exe"
    cp "$win/bin/standin.exe" "$wc/TSLData/QLR/QLR6-38.exe"
    cp "$win/bin/standin.exe" "$wc/TSLData/QLR/Shifter.exe"
    cp "$win/bin/standin.exe" "$wc/standin.exe"
    : >"$wc/SchoolData/mydata.ib"
  }
  wine_machine
  wrun="$top/scripts/wine-run.sh"
fi
if wants b; then
  serve "$wine_dir"; wine_base=$base
  echo "b) download under Wine against curl -o ..."
  python3 "$pairs" "b. download, DownloadFile under Wine vs curl -o [${wine_mb} MB]" -- \
    "$wrun" "$run/update_bench.exe" download - "$wine_base$pak" --vs curl -s -o "$run/curl.pak" "$wine_base$pak"
  cmp -s "$run/curl.pak" "$wc/Temp/QLR/bench.pak" || { echo "Wine download differs" >&2; exit 1; }
  echo "b) the real Tovanel.exe's update run under Wine against curl -o and plain zlib ..."
  mkdir -p "$run/plain"
  QLR_UPDATE_BASE_URL=$wine_base python3 "$pairs" \
    "b. update run (download and unpack), Tovanel.exe under Wine vs curl -o and plain zlib [${wine_mb} MB]" \
    --prep-a "cd '$wc' && rm -f Temp/QLR/*.pak TSLData/QLR/QLR6-39.exe TSLData/QLR/random.bin TSLData/QLR/text.txt" \
    --prep-b "rm -f '$run'/plain/* '$run'/curl.pak" -- \
    env QLR_UPDATE_BASE_URL="$wine_base" "$wrun" 'C:\TSLData\QLR\Tovanel.exe' \
    --vs sh -c "curl -s -o '$run/curl.pak' '$wine_base$pak' && '$run/inflate_baseline' '$run/curl.pak' '$run/plain'"
  # The same run against an anchor that also waits the run pass's one-second
  # timer and flushes what it unpacks: both sides do the same work.
  QLR_UPDATE_BASE_URL=$wine_base python3 "$pairs" \
    "b. update run, Tovanel.exe under Wine vs 1 s timer, curl -o, zlib and flush [${wine_mb} MB]" \
    --prep-a "cd '$wc' && rm -f Temp/QLR/*.pak TSLData/QLR/QLR6-39.exe TSLData/QLR/random.bin TSLData/QLR/text.txt" \
    --prep-b "rm -f '$run'/plain/* '$run'/curl.pak" -- \
    env QLR_UPDATE_BASE_URL="$wine_base" "$wrun" 'C:\TSLData\QLR\Tovanel.exe' \
    --vs sh -c "sleep 1 && curl -s -o '$run/curl.pak' '$wine_base$pak' &&
                '$run/inflate_baseline' '$run/curl.pak' '$run/plain' --flush"
  grep -q '^\.\.\. OK' "$wc/Temp/QLR/InstallLog Startup.txt" || { echo "the Wine update run failed" >&2; exit 1; }
  cmp -s "$run/plain/3" "$wc/TSLData/QLR/text.txt" || { echo "Wine unpacked files differ" >&2; exit 1; }
  wine_machine
fi
if wants c; then
  cp "$run/big/$pak" "$wc/Temp/QLR/bench.pak"
  echo "c) unpack under Wine against native ..."
  python3 "$pairs" "c. unpack, under Wine vs native tovanel [${mb} MB]" \
    --prep-a "rm -f '$wc'/TSLData/QLR/random.bin '$wc'/TSLData/QLR/text.txt" \
    --prep-b "rm -f '$root'/drive_c/TSLData/QLR/random.bin '$root'/drive_c/TSLData/QLR/text.txt" -- \
    "$wrun" "$run/update_bench.exe" unpack - --vs "$run/update_bench" unpack "$root"
  cmp -s "$root/drive_c/TSLData/QLR/text.txt" "$wc/TSLData/QLR/text.txt" || { echo "Wine unpack differs" >&2; exit 1; }
fi

# The native whole run, measured as the Wine one: the real timer on both sides.
if wants b; then
  echo "b) the native update run against the same anchor ..."
  mkdir -p "$run/plain"
  python3 "$pairs" "b. update run, native Startup copy vs 1 s timer, curl -o, zlib and flush [${mb} MB]" \
    --prep-a "machine '$run/mb'" --prep-b "rm -f '$run'/plain/* '$run'/curl.pak" -- \
    env QLR_SANDBOX_ROOT="$run/mb" QLR_UPDATE_BASE_URL="$big_base" "$run/mb/drive_c/TSLData/QLR/Tovanel.exe" \
    --vs sh -c "sleep 1 && curl -s -o '$run/curl.pak' '$big_base$pak' &&
                '$run/inflate_baseline' '$run/curl.pak' '$run/plain' --flush"
  for _ in $(seq 100); do [ -f "$run/mb/drive_c/Temp/QLR/InstallLog Startup.txt" ] && break; sleep 0.1; done
  grep -q '^\.\.\. OK' "$run/mb/drive_c/Temp/QLR/InstallLog Startup.txt" ||
    { echo "the native update run failed" >&2; exit 1; }
fi

# ---- d) peak memory of whole update runs -----------------------------------
if wants d; then
  serve "$run/p10"; p10_base=$base
  serve "$run/p200"; p200_base=$base
  echo "d) peak memory of whole update runs, 200 MB against 10 MB ..."
  # The Startup copy starts the application, then downloads and unpacks QLR6-39.
  python3 "$pairs" "d. peak memory of a whole native update run, 200 MB vs 10 MB package" --memory --runs 1 \
    --prep-a "machine '$run/m200'" --prep-b "machine '$run/m10'" -- \
    env QLR_SANDBOX_ROOT="$run/m200" QLR_SANDBOX_FAST=1 QLR_UPDATE_BASE_URL="$p200_base" \
        "$run/m200/drive_c/TSLData/QLR/Tovanel.exe" \
    --vs env QLR_SANDBOX_ROOT="$run/m10" QLR_SANDBOX_FAST=1 QLR_UPDATE_BASE_URL="$p10_base" \
        "$run/m10/drive_c/TSLData/QLR/Tovanel.exe"
  for m in m10 m200; do
    for _ in $(seq 100); do [ -f "$run/$m/drive_c/Temp/QLR/InstallLog Startup.txt" ] && break; sleep 0.1; done
    grep -q '^\.\.\. OK' "$run/$m/drive_c/Temp/QLR/InstallLog Startup.txt" ||
      { echo "the $m update run failed" >&2; exit 1; }
  done
fi

# ---- e) qlr-server against nginx -------------------------------------------
if wants e; then
  serve "$run/p10"; list_base=$base
  list_url="${list_base}index.php?School=Bench&SMSID=1&USER=office"
  www=$run/nginx/www
  mkdir -p "$www/updates" "$run/nginx/logs"
  curl -sf -o "$www/list.txt" "$list_url"
  ln -s "$run/p10/$pak" "$www/$pak"
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  cat >"$run/nginx/nginx.conf" <<EOF
worker_processes auto;
pid $run/nginx/nginx.pid;
error_log $run/nginx/logs/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile on;
  types { text/plain txt; application/octet-stream pak; }
  server {
    listen 127.0.0.1:$port;
    root $www;
  }
}
EOF
  chmod -R a+rX "$run/nginx" "$run/p10"
  /usr/sbin/nginx -p "$run/nginx" -c "$run/nginx/nginx.conf" -e "$run/nginx/logs/error.log" -g 'daemon off;' &
  pids+=($!)
  nginx_base=http://127.0.0.1:$port/
  for _ in $(seq 100); do curl -sf -o /dev/null "${nginx_base}list.txt" && break; sleep 0.05; done
  cmp -s <(curl -sf "$list_url") <(curl -sf "${nginx_base}list.txt") || { echo "the lists differ" >&2; exit 1; }
  for c in 8 64; do
    echo "e) list requests per second, $c clients ..."
    python3 "$pairs" "e. list requests/s, $c clients, qlr-server vs nginx static file" \
      --figure 'Requests per second:\s+([0-9.]+)' -- \
      ab -q -n "$ab_requests" -c "$c" "$list_url" --vs ab -q -n "$ab_requests" -c "$c" "${nginx_base}list.txt"
    echo "e) package throughput, $c clients ..."
    python3 "$pairs" "e. 10 MB package KB/s, $c clients, qlr-server vs nginx" \
      --figure 'Transfer rate:\s+([0-9.]+)' -- \
      ab -q -n $(( c * 2 )) -c "$c" "$list_base$pak" --vs ab -q -n $(( c * 2 )) -c "$c" "$nginx_base$pak"
  done
fi

# ---- f) early launch: start to the user's application started --------------
if wants f; then
  mkdir -p "$run/empty/updates"
  serve "$run/empty"; empty_base=$base  # nothing newer: the run starts the application and ends
  echo "f) early launch against starting the application itself ..."
  machine "$run/mf"
  python3 "$pairs" "f. start to application started, native Startup copy vs the application alone" \
    --until "$run/mf/drive_c/standin-runs.txt" --prep "sleep 0.2" -- \
    env QLR_SANDBOX_ROOT="$run/mf" QLR_SANDBOX_FAST=1 QLR_UPDATE_BASE_URL="$empty_base" \
        "$run/mf/drive_c/TSLData/QLR/Tovanel.exe" \
    --vs env QLR_SANDBOX_ROOT="$run/mf" QLR_SANDBOX_FAST=1 "$run/mf/drive_c/TSLData/QLR/QLR6-38.exe"
  python3 "$pairs" "f. start to application started, native Startup copy vs a trivial launcher" \
    --until "$run/mf/drive_c/standin-runs.txt" --prep "sleep 0.2" -- \
    env QLR_SANDBOX_ROOT="$run/mf" QLR_SANDBOX_FAST=1 QLR_UPDATE_BASE_URL="$empty_base" \
        "$run/mf/drive_c/TSLData/QLR/Tovanel.exe" \
    --vs env QLR_SANDBOX_ROOT="$run/mf" "$run/trivial_launcher" "$run/mf/drive_c/TSLData/QLR/QLR6-38.exe"
  python3 "$pairs" "f. start to application started, Tovanel.exe under Wine vs the application alone" \
    --until "$wc/standin-runs.txt" --prep "sleep 0.5" -- \
    env QLR_UPDATE_BASE_URL="$empty_base" "$wrun" 'C:\TSLData\QLR\Tovanel.exe' \
    --vs "$wrun" 'C:\TSLData\QLR\QLR6-38.exe'
  # Two Wine starts and a window on both sides: the fair anchor.
  cp "$run/trivial_launcher.exe" "$wc/TSLData/QLR/Launcher.exe"
  python3 "$pairs" "f. start to application started, Tovanel.exe under Wine vs a trivial windowed launcher" \
    --until "$wc/standin-runs.txt" --prep "sleep 0.5" -- \
    env QLR_UPDATE_BASE_URL="$empty_base" "$wrun" 'C:\TSLData\QLR\Tovanel.exe' \
    --vs "$wrun" "$wc/TSLData/QLR/Launcher.exe" 'C:\TSLData\QLR\QLR6-38.exe'
fi

# ---- the table -------------------------------------------------------------
revision=$(git -C "$src" describe --always --dirty 2>/dev/null || echo unknown)
python3 - "$QLR_BENCH_RESULTS" "$exe_kb" "$revision" "${QLR_BENCH_SAVE:-}" "$top/bench/today.jsonl" \
    "$top/bench/RESULTS.md" "$QLR_BENCH_RUNS" "$windows_bits" <<'EOF'
import json, os, platform, re, sys, time
results, exe_kb, revision, save, today_file, out, runs, wine_bits = sys.argv[1:]
rows = [json.loads(line) for line in open(results)]
rows.append({"name": "Tovanel.exe, stripped release", "unit": "KB", "a": float(exe_kb), "b": None,
             "ratio": None, "ratio_min": None, "ratio_max": None, "runs": 1})
if save:
    with open(save, "w") as f:
        f.write(json.dumps({"revision": revision, "date": time.strftime("%Y-%m-%d"), "wine": wine_bits}) + "\n")
        for row in rows: f.write(json.dumps(row) + "\n")
    print(f"figures saved to {save}")
    sys.exit(0)
def key(row): return re.sub(r" \[.*\]$", "", row["name"])
def size(row):
    found = re.search(r" \[(.*)\]$", row["name"])
    return f", {found.group(1)}" if found else ""
today, today_rev = {}, "none"
if os.path.exists(today_file):
    lines = [json.loads(line) for line in open(today_file)]
    today_rev = f"{lines[0]['revision']}, {lines[0]['date']}, {lines[0].get('wine', '32')}-bit Wine"
    today = {key(row): row for row in lines[1:]}
goals = {"a. download, native tovanel vs curl -o": "within 1.1x",
         "b. download, DownloadFile under Wine vs curl -o": "within 2x",
         "c. unpack, native tovanel vs plain zlib inflate": "within 1.1x",
         "c. unpack, under Wine vs native tovanel": "within 1.5x",
         "d. peak memory of a whole native update run, 200 MB vs 10 MB package": "flat (1.0x)",
         "e. list requests/s, 8 clients, qlr-server vs nginx static file": "at least 1.0x",
         "e. list requests/s, 64 clients, qlr-server vs nginx static file": "at least 1.0x",
         "c. unpack, native tovanel vs zlib inflate and flush to disk": "within 1.1x",
         "f. start to application started, Tovanel.exe under Wine vs a trivial windowed launcher":
             "not above 1.19x",
         "Tovanel.exe, stripped release": "at most 400 KB (390 KiB)"}
def figure(row):
    if row is None: return ""
    if row["ratio"] is None: return f"{row['a']:.0f} KiB" if row["unit"] == "KB" else f"{row['a']:.0f}"
    return f"{row['ratio']:.2f}x ({row['ratio_min']:.2f} to {row['ratio_max']:.2f}{size(row)})"
def sides(row):
    if row["b"] is None: return ""
    return f"{row['a']:.4g} / {row['b']:.4g} {row['unit']}"
cpu = next((l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo") if l.startswith("model name")), "?")
lines = ["# Benchmark results", "",
         f"Made by `bench/run.sh` on {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())}: {cpu}, "
         f"{os.cpu_count()} cores, {platform.system()} {platform.release()}, shared with other work. "
         f"Revision {revision}; {runs} counted pairs per figure after one warm-up pair, A and B in turn. "
         f"Wine figures: the {wine_bits}-bit build under {wine_bits}-bit Wine; the size is the shipped 32-bit "
         f"Tovanel.exe's.", "",
         f"Each figure is the median of the pairwise ratios A/B, with the lowest and highest ratio. "
         f"Times are whole processes from start to exit (f: to the application's first record). "
         f"\"Today\" is {today_rev} (`bench/today.jsonl`).", "",
         "| Pair (A vs B) | Today | Now | Goal | Now, median A / B |", "|---|---|---|---|---|"]
for row in rows:
    lines.append(f"| {key(row)} | {figure(today.get(key(row)))} | {figure(row)} | {goals.get(key(row), '')} "
                 f"| {sides(row)} |")
# The sections after the table (bench/server-bench.sh's, figures made by hand) stay.
kept = ""
if os.path.exists(out):
    previous = open(out).read()
    if "\n## " in previous:
        kept = "\n" + previous[previous.index("\n## ") + 1:]
open(out, "w").write("\n".join(lines) + "\n" + kept)
print("\n".join(lines))
EOF
