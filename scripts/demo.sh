#!/usr/bin/env bash
# The main job: a fresh machine installed and updated from the bundled update
# server, once on a fresh Wine prefix (the real Tovanel.exe) and once on a
# fresh sandbox machine (the native tovanel). The programs are the builds
# that hold the project's TEST release key (tests/keys), and every package is
# signed with it; a release uses its own key pair (README, "Releases").
#
#   1. The maker publishes Foundation.pak and QLR6-38.pak (built and signed
#      with qlrpak).
#   2. A setup copy started from a folder named SETUP installs the foundation
#      (folders, database server, blank school database), the newest version
#      and the shortcuts, and starts the application.
#   3. Someone slips an UNSIGNED QLR6-39.pak onto the server. The desktop
#      shortcut's target (the Program Files copy) starts and hands over; the
#      Startup copy starts the installed version at once, downloads 6-39 and
#      refuses it: "Package refused: QLR6-39.pak (not signed)".
#   4. The maker publishes the signed QLR6-39.pak; the shortcut again: the
#      Startup copy downloads it through a flaky link (a proxy that resets
#      the first download after 100,000 bytes), resumes the cut download
#      ("Download resumed at ... bytes") and unpacks it for the next start.
#   5. The shortcut once more: 6-39 starts, nothing to do.
# Then it prints the saved logs, the check-ins the server saw and the
# programs that were started (every outside program is a `standin`).
#
# With QLR_DEMO_NGINX=1 (scripts/demo-nginx.sh) nginx serves instead, with
# deploy/nginx/qlr.conf, and the signed 6-39 is a staged rollout: published at
# 0% first (the school stays on 6-38), then raised to 100%. It ends with the check-in
# report of both stories.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
[ -n "${QLR_DEMO_READY:-}" ] || scripts/install-deps.sh
# Wine needs a display for the GUI program: a virtual one when there is none.
if [ -z "${DISPLAY:-}" ]; then
  QLR_DEMO_READY=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
. scripts/windows-build.sh
choose_windows_build
jobs=${QLR_JOBS:-2}
targets_native=(tovanel tovanel-testkey standin qlrpak qlr-server)
cmake --preset native >/dev/null
cmake --build --preset native -j"$jobs" --target "${targets_native[@]}" >/dev/null
cmake --preset "$windows_preset" >/dev/null
cmake --build --preset "$windows_preset" -j"$jobs" --target tovanel-testkey standin >/dev/null
native=$top/build/native/bin
windows=$windows_bin
demo=$top/build/demo
rm -rf "$demo"
mkdir -p "$demo"

say() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
show() {  # a Windows text file, CR LF shown as line ends
  local file=$1
  if [ -f "$file" ]; then printf -- '--- %s\n' "${file#$demo/}"; tr -d '\r' <"$file"; printf '\n'; fi
}

key=$top/tests/keys/test-release-private.pem
# publish SERVERDIR PROGRAM STANDIN NAME...: signed package files for one
# platform; with QLR_DEMO_UNSIGNED=1 they are left unsigned
publish() {
  local server=$1 program=$2 standin=$3; shift 3
  local sign=(--sign "$key")
  [ -z "${QLR_DEMO_UNSIGNED:-}" ] || sign=()
  mkdir -p "$server/updates"
  printf 'blank school database\n%.0s' {1..40} >"$server/blank.ib"
  for name in "$@"; do
    case $name in
      Foundation)
        "$native/qlrpak" create "$server/updates/Foundation.pak" "${sign[@]}" \
          "C:\\TSLData\\QLR\\Tovanel.exe=$program" \
          "C:\\Program Files\\Tessaly\\Quillory\\Tovanel.exe=$program" \
          "C:\\TSLData\\QLR\\Shifter.exe=$standin" \
          "c:\\temp\\QLR\\Firebird\\Firebird-2.1.1.17910-0_Win32.exe=$standin" \
          "C:\\temp\\QLR\\SchoolData\\mydata.ib=$server/blank.ib" >/dev/null ;;
      *)
        "$native/qlrpak" create "$server/updates/$name.pak" "${sign[@]}" "C:\\TSLData\\QLR\\$name.exe=$standin" \
          >/dev/null ;;
    esac
  done
}

# start_server SERVERDIR: prints the base address
start_server() {
  local server=$1
  if [ -n "${QLR_DEMO_NGINX:-}" ]; then
    "$native/qlr-server" publish "$server" >/dev/null
    scripts/nginx-local.sh start "$server/nginx" "$server"
    return
  fi
  "$native/qlr-server" --root "$server" --port 0 >"$server/server.out" 2>&1 &
  echo $! >"$server/server.pid"
  for _ in $(seq 100); do
    if grep -q 'listening on' "$server/server.out"; then
      sed -n 's/.*listening on \(http[^ ]*\).*/\1/p' "$server/server.out" | head -1
      return
    fi
    sleep 0.1
  done
  echo "qlr-server did not start" >&2; exit 1
}
# stage SERVERDIR PERCENT: QLR6-39 offered to that share of schools (nginx story)
stage() {
  printf 'QLR6-39 %s\n' "$2" >"$1/rollout.txt"
  say "Staged rollout: $(cat "$1/rollout.txt")% (qlr-server publish)"
  "$native/qlr-server" publish "$1"
}
checkins() { if [ -n "${QLR_DEMO_NGINX:-}" ]; then echo "$1/nginx/checkins.log"; else echo "$1/checkins.log"; fi; }
# wait_newer FILE MARKER: the handed-over copy runs on its own; wait for its log
wait_newer() {
  for _ in $(seq 300); do
    [ "$1" -nt "$2" ] && { sleep 0.5; return; }
    sleep 0.1
  done
  echo "no fresh $1" >&2
}
# refused DRIVE_C: what the last Startup run said about the package it fetched
refused() {
  tr -d '\r' <"$1/Temp/QLR/InstallLog Startup.txt" | grep -E '^(Have: |Package refused|Decoding|Nothing to do)' || true
}
# cutting_proxy URL: the same server behind a link that resets the first
# download after 100,000 bytes; prints the base address through it
cutting_proxy() {
  local url=$1 hostport path out=$demo/proxy-$RANDOM
  hostport=${url#http://} && path=/${hostport#*/} && hostport=${hostport%%/*}
  python3 scripts/reset-proxy.py --upstream "$hostport" --every 100000 --cuts 1 --count "$out.count" >"$out.out" 2>&1 &
  echo $! >>"$demo/proxy.pids"
  for _ in $(seq 100); do
    if grep -q '^http' "$out.out"; then echo "$(head -1 "$out.out" | sed 's#/$##')$path"; return; fi
    sleep 0.1
  done
  echo "the cutting proxy did not start" >&2; exit 1
}
# resumed DRIVE_C: the resumed tries of the last Startup run
resumed() { tr -d '\r' <"$1/Temp/QLR/InstallLog Startup.txt" | grep -E '^Download resumed' || true; }
servers=()
cleanup() {
  [ -f "$demo/proxy.pids" ] && xargs kill <"$demo/proxy.pids" 2>/dev/null || true
  for s in "${servers[@]}"; do
    if [ -n "${QLR_DEMO_NGINX:-}" ]; then scripts/nginx-local.sh stop "$s/nginx"
    else kill "$(cat "$s/server.pid")" 2>/dev/null || true; fi
  done
}
trap cleanup EXIT

report() {  # DRIVE_C SERVERDIR
  local c=$1 server=$2
  say "Saved run logs"
  for role in Setup Bootstrap Startup; do show "$c/Temp/QLR/InstallLog $role.txt"; done
  say "Check-ins the update server saw"
  cat "$(checkins "$server")"
  say "Programs that were started (own path | command line | current folder)"
  tr -d '\r' <"$c/standin-runs.txt"
  say "Shortcuts"
  find "$c/users" -name '*.lnk' -type f | while read -r link; do
    printf '%s -> %s\n' "${link#$c/}" "$(lnkinfo "$link" | sed -n 's/^[[:space:]]*Local path[[:space:]]*: //p')"
  done
}

# shortcut_steps LABEL PROGRAM STANDIN SERVERDIR DRIVE_C START...: an unsigned
# QLR6-39.pak is refused, the signed one is fetched, then it runs; START...
# starts the desktop shortcut's target once
shortcut_steps() {
  local label=$1 program=$2 standin=$3 server=$4 c=$5; shift 5
  for step in unsigned signed again; do
    case $step in
      unsigned) QLR_DEMO_UNSIGNED=1 publish "$server" "$program" "$standin" QLR6-39
                [ -z "${QLR_DEMO_NGINX:-}" ] || "$native/qlr-server" publish "$server" >/dev/null
                say "$label: an UNSIGNED QLR6-39.pak on the server; the desktop shortcut" ;;
      signed) publish "$server" "$program" "$standin" QLR6-39
              if [ -n "${QLR_DEMO_NGINX:-}" ]; then
                stage "$server" 0
                say "$label: the signed QLR6-39.pak held back from every school; the shortcut again"
                "$@"; refused "$c"
                stage "$server" 100
              fi
              say "$label: the signed QLR6-39.pak published; the shortcut again, over a link that cuts" ;;
      again) say "$label: the shortcut once more" ;;
    esac
    if [ "$step" = signed ]; then
      local direct=$QLR_UPDATE_BASE_URL
      QLR_UPDATE_BASE_URL=$(cutting_proxy "$direct")
      "$@"
      resumed "$c"
      QLR_UPDATE_BASE_URL=$direct
    else
      "$@"
    fi
    refused "$c"
  done
}

# ---------------------------------------------------------------- sandbox
sandbox_shortcut() {  # DRIVE_C; the handed-over copy runs on its own: wait for its log
  touch "$demo/marker"; sleep 1
  "$1/Program Files/Tessaly/Quillory/Tovanel.exe"
  wait_newer "$1/Temp/QLR/InstallLog Startup.txt" "$demo/marker"
}

sandbox_demo() {
  say "Sandbox: a fresh machine"
  local root=$demo/sandbox server=$demo/server-native url
  "$native/tovanel" --root "$root" --init pupil-office
  publish "$server" "$native/tovanel-testkey" "$native/standin" Foundation QLR6-38
  url=$(start_server "$server"); servers+=("$server")
  export QLR_UPDATE_BASE_URL=$url QLR_SANDBOX_ROOT=$root
  local c=$root/drive_c
  cp "$native/standin" "$c/windows/system32/net.exe"  # the system's service tool
  mkdir -p "$c/Downloads/QLR SETUP"
  cp "$native/tovanel-testkey" "$c/Downloads/QLR SETUP/Tovanel.exe"
  say "Sandbox: setup copy C:\\Downloads\\QLR SETUP\\Tovanel.exe"
  "$c/Downloads/QLR SETUP/Tovanel.exe"
  say "Sandbox: the desktop shortcut's target is $(lnkinfo "$c/users/pupil-office/Desktop/Tovanel.lnk" |
    sed -n 's/^[[:space:]]*Local path[[:space:]]*: //p')"
  shortcut_steps Sandbox "$native/tovanel-testkey" "$native/standin" "$server" "$c" sandbox_shortcut "$c"
  unset QLR_SANDBOX_ROOT
  report "$c" "$server"
}

# ---------------------------------------------------------------- Wine
wine_shortcut() { scripts/wine-run.sh 'C:\Program Files\Tessaly\Quillory\Tovanel.exe'; wineserver -w; }
wine_demo() {
  say "Wine: a fresh $windows_bits-bit prefix"
  local server=$demo/server-windows url
  export WINEPREFIX=$demo/wineprefix$windows_bits
  scripts/wine-run.sh cmd /c ver >/dev/null  # makes the prefix
  publish "$server" "$windows/Tovanel-testkey.exe" "$windows/standin.exe" Foundation QLR6-38
  url=$(start_server "$server"); servers+=("$server")
  export QLR_UPDATE_BASE_URL=$url
  local c=$WINEPREFIX/drive_c
  mkdir -p "$c/Downloads/QLR SETUP"
  cp "$windows/Tovanel-testkey.exe" "$c/Downloads/QLR SETUP/Tovanel.exe"
  say "Wine: setup copy C:\\Downloads\\QLR SETUP\\Tovanel.exe"
  scripts/wine-run.sh 'C:\Downloads\QLR SETUP\Tovanel.exe'; wineserver -w
  shortcut_steps Wine "$windows/Tovanel-testkey.exe" "$windows/standin.exe" "$server" "$c" wine_shortcut
  report "$c" "$server"
}

start=$SECONDS; sandbox_demo; sandbox_time=$((SECONDS - start))
start=$SECONDS; wine_demo; wine_time=$((SECONDS - start))
say "Done: sandbox story ${sandbox_time} s, Wine story ${wine_time} s (with the new prefix)"
if [ -n "${QLR_DEMO_NGINX:-}" ]; then
  "$native/qlr-server" report --days 7 --output "$demo/report.html" \
    "$demo/server-native/nginx/checkins.log" "$demo/server-windows/nginx/checkins.log"
  say "Check-in report: $demo/report.html"
  sed -n 's/.*<tr><th>\([^<]*\)<\/th><td class="n" id="total-[a-z]*">\([0-9]*\)<.*/  \1: \2/p' "$demo/report.html"
  if [ -n "${QLR_DEMO_OPEN:-}" ] && command -v xdg-open >/dev/null; then xdg-open "$demo/report.html"; fi
fi
