#!/usr/bin/env bash
# Kills the updater at random moments of a download and unpack and checks
# what each kill leaves behind. The next run starts as a user's does: from
# the shortcut's copy under Program Files, which hands over to the data folder.
#
#   scripts/killpoint.sh [--kills N] [--wine] [--seed S]
#
# A machine with version 6-38 installed fetches QLR6-39.pak (several entries
# of a few MB each, among them a new Tovanel.exe and the new executable)
# from qlr-server on a free loopback port. Each round restores 6-38, starts
# the Startup copy, kills it (SIGKILL) after a random delay within the time
# a whole update takes (some of them while the commit moves files), and
# checks:
#   - every file of the package is either its complete old or its complete
#     new content, never anything else;
#   - when the next run starts the application, the files of one version
#     are in place, never some of each, and it is the highest installed;
#   - that run completes the update: every file new, no temporary, set-aside
#     file or journal left.
# In every fifth round another program holds one of the files (open, others
# may only read it) for part of the run.
# Prints "kills N, bad states M" and exits 1 when M > 0. Under Wine it also
# counts programs that hung in Wine's process start and had to be ended.
#
# --kills N   rounds (default 50)
# --wine      the real Tovanel.exe under Wine (build/windows, or build/windows64
#             where 32-bit programs cannot run: scripts/windows-build.sh), in a
#             prefix of its own (KILLPOINT_WINEPREFIX, default
#             build/killpoint-wineprefix or build/killpoint-wineprefix64);
#             default: the native tovanel on a sandbox machine
# --seed S    the random delays' seed (default: from the clock; printed)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

usage() { sed -n '2,/^set /{/^#/s/^# \{0,1\}//p}' "$0"; }
given=("$@")
kills=50 wine_mode=0 seed=$(( $(date +%s) % 32768 ))
while [ $# -gt 0 ]; do
  case $1 in
    --kills) [ $# -ge 2 ] || { usage >&2; exit 2; }; kills=$2; shift 2 ;;
    --wine) wine_mode=1; shift ;;
    --seed) [ $# -ge 2 ] || { usage >&2; exit 2; }; seed=$2; shift 2 ;;
    -h|--help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
done
case $kills in ''|*[!0-9]*) echo "killpoint.sh: --kills needs a number" >&2; exit 2 ;; esac
RANDOM=$seed

if [ "$wine_mode" = 1 ] && [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "${given[@]}"
fi

native=${QLR_NATIVE_BIN:-$here/build/native/bin}
if [ "$wine_mode" = 1 ]; then
  . "$here/scripts/windows-build.sh"
  choose_windows_build
fi
windows=${QLR_WINDOWS_BIN:-${windows_bin:-}}
for tool in qlrpak qlr-server; do
  [ -x "$native/$tool" ] || { echo "killpoint.sh: build the native preset first ($native/$tool)" >&2; exit 2; }
done

hung_after_kill=0 hung_after_next=0
work=$(mktemp -d "${TMPDIR:-/tmp}/qlr-killpoint.XXXXXX")
server_pid=
cleanup() {
  [ -n "$server_pid" ] && { kill -TERM "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; }
  rm -rf "$work"
}
trap cleanup EXIT

if [ "$wine_mode" = 1 ]; then
  [ -f "$windows/Tovanel.exe" ] && [ -f "$windows/standin.exe" ] ||
    { echo "killpoint.sh: build the $windows_preset preset first ($windows)" >&2; exit 2; }
  suffix=${windows_bits#32}
  export WINEPREFIX=${KILLPOINT_WINEPREFIX:-$here/build/killpoint-wineprefix$suffix}
  export WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d'
  winecmd=wine
  if [ "$windows_bits" = 64 ]; then export WINELOADER=/usr/lib/wine/wine64 && winecmd=$WINELOADER; fi
  "$here/scripts/wine-run.sh" "$windows/standin.exe" >/dev/null 2>&1 || true  # makes the prefix once
  root=$WINEPREFIX
  program=$windows/Tovanel.exe standin=$windows/standin.exe
  unset http_proxy  # Wine's WinInet would send loopback requests to a proxy
else
  [ -x "$native/tovanel" ] && [ -x "$native/standin" ] ||
    { echo "killpoint.sh: build the native preset first ($native)" >&2; exit 2; }
  root=$work/machine
  "$native/tovanel" --root "$root" --init killpoint >/dev/null
  export QLR_SANDBOX_ROOT=$root QLR_SANDBOX_FAST=1  # FAST: no one-second wait for the run pass's timer
  program=$native/tovanel standin=$native/standin
fi
c=$root/drive_c
qlr=$c/TSLData/QLR

# ---- the two versions ----------------------------------------------------------
# Old and new content of every file the package replaces; QLR6-39.exe is new.
files=(Tovanel.exe notes.txt data1.bin data2.bin data3.bin)
mkdir -p "$work/old" "$work/new"
cp "$program" "$work/old/Tovanel.exe"
{ cat "$program"; printf '\n6-39 build\n'; } >"$work/new/Tovanel.exe"  # still runs: bytes after the image
printf '6-38 notes\r\n' >"$work/old/notes.txt"
printf '6-39 notes, longer\r\n' >"$work/new/notes.txt"
kib=1024
[ "$wine_mode" = 1 ] && kib=128  # downloads under Wine are slower
for n in 1 2 3; do
  head -c $((kib * 1024 + n)) /dev/urandom >"$work/old/data$n.bin"
  head -c $((2 * kib * 1024 + n)) /dev/urandom >"$work/new/data$n.bin"
done
cp "$standin" "$work/new/QLR6-39.exe"
# The application records the sizes of the package's files as it starts: one version's, or a bad state.
sizes_of() { local d=$1 f out=; for f in "${files[@]}" QLR6-39.exe; do
  out+="${out:+;}$f=$(stat -c %s "$d/$f" 2>/dev/null || echo -1)"; done; echo "$out"; }
old_sizes=$(sizes_of "$work/old") new_sizes=$(sizes_of "$work/new")
export QLR_STANDIN_SIZES="$(IFS=';'; echo "${files[*]};QLR6-39.exe")"

mkdir -p "$work/server/updates"
entries=("C:\\TSLData\\QLR\\QLR6-39.exe=$work/new/QLR6-39.exe")
for f in "${files[@]}"; do entries+=("C:\\TSLData\\QLR\\$f=$work/new/$f"); done
"$native/qlrpak" create "$work/server/updates/QLR6-39.pak" "${entries[@]}" >/dev/null

"$native/qlr-server" --root "$work/server" --port 0 >"$work/server.out" 2>&1 &
server_pid=$!
base=
for _ in $(seq 200); do
  base=$(sed -n 's#^listening on \(http://[^ ]*/\)$#\1#p' "$work/server.out" | head -1)
  [ -n "$base" ] && break
  sleep 0.05
done
[ -n "$base" ] || { echo "killpoint.sh: qlr-server did not start" >&2; cat "$work/server.out" >&2; exit 1; }
export QLR_UPDATE_BASE_URL=$base

# ---- one machine, reset to 6-38 each round ---------------------------------------
restore_old() {
  rm -rf "$c/Temp" "$c/TSLData" "$c/standin-runs.txt"
  mkdir -p "$qlr" "$c/SchoolData" "$c/Program Files/Tessaly/Quillory"
  : >"$c/SchoolData/mydata.ib"
  for f in "${files[@]}"; do cp "$work/old/$f" "$qlr/$f"; done
  cp "$standin" "$qlr/QLR6-38.exe"
  cp "$standin" "$qlr/Shifter.exe"
  cp "$standin" "$c/holder.exe"
  cp "$program" "$c/Program Files/Tessaly/Quillory/Tovanel.exe"
  chmod +x "$qlr"/*.exe "$c/holder.exe" "$c/Program Files/Tessaly/Quillory/Tovanel.exe"
}

hold_file() {  # another program holds data2.bin for $1 seconds; sets holder_pid
  local path='C:\TSLData\QLR\data2.bin'
  if [ "$wine_mode" = 1 ]; then
    (QLR_STANDIN_HOLD=$path QLR_STANDIN_HANG=$1 exec "$winecmd" 'C:\holder.exe') >/dev/null 2>&1 &
  else
    (cd "$c" && QLR_STANDIN_HOLD=$path QLR_STANDIN_HANG=$1 exec ./holder.exe) >/dev/null 2>&1 &
  fi
  holder_pid=$!
  for _ in $(seq 400); do  # until it holds the file
    grep -q '^C:\\holder.exe' "$c/standin-runs.txt" 2>/dev/null && return
    sleep 0.005
  done
}

start_run() {  # the Startup copy, or with "bootstrap" the Program Files one, in the background; sets run_pid
  local folder=$qlr exe='C:\TSLData\QLR\Tovanel.exe'
  if [ "${1:-}" = bootstrap ]; then
    folder="$c/Program Files/Tessaly/Quillory" exe='C:\Program Files\Tessaly\Quillory\Tovanel.exe'
  fi
  if [ "$wine_mode" = 1 ]; then
    (cd "$folder" && exec "$winecmd" "$exe") >/dev/null 2>&1 &
  else
    (cd "$folder" && exec ./Tovanel.exe) >/dev/null 2>&1 &
  fi
  run_pid=$!
}

# Programs the killed run started (the early launch) may still be writing their records.
wait_for_machine_idle() {  # $1: the counter of hung starts to add to (Wine)
  if [ "$wine_mode" = 1 ]; then
    # Wine (not Windows) can leave a program whose parent was killed inside
    # CreateProcess hung before its first instruction: it is ended and counted.
    timeout 60 wineserver -w && return
    wineserver -k || true
    eval "$1=\$(($1 + 1))"
    return
  fi
  for _ in $(seq 1200); do
    [ -z "$(find /proc -mindepth 2 -maxdepth 2 -name exe -lname "$root/*" 2>/dev/null | head -1)" ] && return
    sleep 0.05
  done
}

millis() { date +%s%3N; }

wait_for_temporaries() {  # until the run has made that many, or has ended
  local want=$1 have
  if [ "$want" = journal ]; then  # the commit takes moments: no subshell between looks
    while kill -0 "$run_pid" 2>/dev/null; do [ -e "$qlr/Tovanel.qlrjournal" ] && return; done
    return
  fi
  while kill -0 "$run_pid" 2>/dev/null; do
    have=$( (compgen -G "$qlr/*.qlrtmp" || true) | wc -l)
    [ "$have" -ge "$want" ] && return
    sleep 0.002
  done
}

# Describes what is wrong with the installed files, given the allowed states
# ("old-or-new" after a kill, "new" after a finished run). Prints nothing when all is well.
check_files() {
  local allowed=$1 f
  for f in "${files[@]}"; do
    if cmp -s "$qlr/$f" "$work/new/$f"; then continue; fi
    if [ "$allowed" = old-or-new ] && cmp -s "$qlr/$f" "$work/old/$f"; then continue; fi
    # Mid-commit, an old file may stand aside whole until the next run puts it back or the new one in.
    if [ "$allowed" = old-or-new ] && [ ! -e "$qlr/$f" ] && [ -e "$qlr/Tovanel.qlrjournal" ] &&
      cmp -s "$(compgen -G "$qlr/$f.*.qlrold" | head -1)" "$work/old/$f"; then continue; fi
    echo "$f is torn or missing ($(stat -c %s "$qlr/$f" 2>/dev/null || echo none) bytes)"
  done
  if [ -e "$qlr/QLR6-39.exe" ]; then
    cmp -s "$qlr/QLR6-39.exe" "$work/new/QLR6-39.exe" || echo "QLR6-39.exe is torn"
  elif [ "$allowed" = new ]; then
    echo "QLR6-39.exe is missing"
  fi
}

# ---- how long a whole update takes, and its unpack ------------------------------------
restore_old
t0=$(millis) unpack_from=
start_run
while kill -0 "$run_pid" 2>/dev/null; do
  [ -z "$unpack_from" ] && compgen -G "$qlr/*.qlrtmp" >/dev/null && unpack_from=$(millis)
  sleep 0.005
done
wait "$run_pid" || true
end=$(millis)
whole=$(( end - t0 ))
unpack=$(( end - ${unpack_from:-$t0} ))
problem=$(check_files new)
if [ -n "$problem" ]; then
  echo "killpoint.sh: an update without a kill does not install 6-39: $problem" >&2
  tr -d '\r' <"$c/Temp/QLR/InstallLog Startup.txt" >&2 || true
  exit 1
fi
wait_for_machine_idle hung_after_next
echo "killpoint: a whole update takes ${whole} ms, its unpack ${unpack} ms; ${kills} kills, seed ${seed}"

# ---- the kills ------------------------------------------------------------------------
bad=0 after_old=0 after_mixed=0 after_new=0 in_commit=0 held_rounds=0 resumed_runs=0
for round in $(seq "$kills"); do
  restore_old
  holder_pid=
  if [ $((round % 5)) = 0 ]; then hold_file $((RANDOM % 3)); held_rounds=$((held_rounds + 1)); fi
  # A quarter of the kills anywhere; the others in the unpack, some near its
  # end, where the moves take only moments: from the first or the last
  # temporary file on, or once the commit has begun.
  start_run
  t0=$(millis)
  case $((round % 4)) in
    0) delay=$(( (RANDOM * 32768 + RANDOM) % whole )) ;;
    1) wait_for_temporaries 1; delay=$(( (RANDOM * 32768 + RANDOM) % (unpack + 1) )) ;;
    2) wait_for_temporaries $(( ${#files[@]} + 1 )); delay=$(( (RANDOM * 32768 + RANDOM) % (unpack / 3 + 1) )) ;;
    3) wait_for_temporaries journal; delay=$(( RANDOM % 3 )) ;;
  esac
  sleep "$(printf '%d.%03d' $((delay / 1000)) $((delay % 1000)))"
  delay=$(( $(millis) - t0 ))
  kill -KILL "$run_pid" 2>/dev/null || true
  wait "$run_pid" 2>/dev/null || true
  committing=0
  [ -e "$qlr/Tovanel.qlrjournal" ] && { committing=1; in_commit=$((in_commit + 1)); }
  [ -n "$holder_pid" ] && { wait "$holder_pid" 2>/dev/null || true; }
  wait_for_machine_idle hung_after_kill

  problems=$(check_files old-or-new)
  new_count=0
  for f in "${files[@]}" QLR6-39.exe; do cmp -s "$qlr/$f" "$work/new/$f" && new_count=$((new_count + 1)); done
  if [ "$new_count" = 0 ]; then after_old=$((after_old + 1))
  elif [ "$new_count" = $(( ${#files[@]} + 1 )) ]; then after_new=$((after_new + 1))
  else after_mixed=$((after_mixed + 1)); fi
  highest=6-38
  [ -e "$qlr/QLR6-39.exe" ] && highest=6-39

  rm -f "$c/standin-runs.txt" "$c/Temp/QLR/InstallLog Startup.txt"
  # The application records the files it starts beside; by design the run goes on to update them while it
  # runs, so the server answers that run only once the application has looked.
  kill -STOP "$server_pid"
  start_run bootstrap
  for _ in $(seq 600); do
    grep -q '^C:\\TSLData\\QLR\\QLR6-' "$c/standin-runs.txt" 2>/dev/null && break
    sleep 0.05
  done
  kill -CONT "$server_pid"
  wait "$run_pid" || problems+=$'\n'"the next run failed"
  wait_for_machine_idle hung_after_next
  # The early launch is the one start of a QLR6-*.exe (Shifter.exe may record itself first).
  started=$(grep -o '^C:\\TSLData\\QLR\\QLR6-[^ ]*' "$c/standin-runs.txt" 2>/dev/null | tr '\n' ' ' || true)
  # A commit the kill cut short is finished (or undone) before the application starts.
  [ "$committing" = 1 ] && [ "$started" = 'C:\TSLData\QLR\QLR6-39.exe ' ] && highest=6-39
  [ "$started" = "C:\\TSLData\\QLR\\QLR$highest.exe " ] ||
    problems+=$'\n'"the next run started '${started% }', not QLR$highest.exe"
  seen=$(grep -m1 '^C:\\TSLData\\QLR\\QLR6-' "$c/standin-runs.txt" 2>/dev/null | tr -d '\r' | sed 's/.* | //' || true)
  case "$started|$seen" in
    *QLR6-38.exe\ "|$old_sizes" | *QLR6-39.exe\ "|$new_sizes") ;;
    *) problems+=$'\n'"the application started beside files of two versions: $seen" ;;
  esac
  problems+=$(check_files new | sed 's/^/\nafter the next run: /')
  # Windows keeps the running Tovanel.exe's own set-aside copy until a later run removes it: one at most.
  leftovers=$(find "$c" -name '*.qlrtmp' -o -name '*.qlrold' -o -name '*.qlrjournal' |
    { if [ "$wine_mode" = 1 ]; then grep -v '/Tovanel\.exe\.[0-9]*\.qlrold$'; else cat; fi; } | head -3 || true)
  [ "$(compgen -G "$qlr/Tovanel.exe.*.qlrold" | wc -l)" -le 1 ] ||
    leftovers+=" $(compgen -G "$qlr/Tovanel.exe.*.qlrold" | tr '\n' ' ')"
  [ -z "$leftovers" ] || problems+=$'\n'"temporaries left after the next run: $leftovers"
  log=$(tr -d '\r' <"$c/Temp/QLR/InstallLog Startup.txt" 2>/dev/null || echo "no run log")
  # A download the kill cut keeps its bytes: the next run goes on from them.
  case $log in *"Download resumed at"*) resumed_runs=$((resumed_runs + 1)) ;; esac
  case $log in
    *FAILED*|"no run log") problems+=$'\n'"the next run's log: $(grep -m1 FAILED <<<"$log" || echo "$log")" ;;
  esac

  problems=$(sed '/^$/d' <<<"$problems")
  if [ -n "$problems" ]; then
    bad=$((bad + 1))
    echo "round $round (killed after ${delay} ms):"
    sed 's/^/  /' <<<"$problems"
  fi
done

echo "left after the kill: old version $after_old, some files new $after_mixed, new version $after_new"
echo "kills in the commit $in_commit; rounds with a held file $held_rounds; next runs that resumed a cut download $resumed_runs"
[ "$wine_mode" = 1 ] && echo "hung in Wine's process start, ended: after the kill $hung_after_kill, after the next run $hung_after_next"
echo "kills $kills, bad states $bad"
[ "$bad" = 0 ]

