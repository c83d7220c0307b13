#!/usr/bin/env bash
# Runs a Windows program under Wine, with a virtual display (Xvfb) when none
# is set. CTest uses it as the crosscompiling emulator, so Windows test
# executables run through it. A 32-bit program runs in a 32-bit prefix under
# 32-bit Wine, a 64-bit one in a 64-bit prefix under 64-bit Wine.
#
#   scripts/wine-run.sh PROGRAM.exe [ARGS...]
#
# WINEPREFIX   prefix to use (default: <repo>/build/wineprefix for 32-bit
#              programs, <repo>/build/wineprefix64 for 64-bit ones); made on
#              first use (wineboot, about 6 s), shared by later runs; a prefix
#              of the other kind is refused, never reused.
# QLR_WINEARCH win32 or win64, for a program that is not a file here (a
#              Windows path, a Wine builtin); default win32.
# Unix environment variables (QLR_UPDATE_BASE_URL, ...) reach the program.
# The exit code is the program's. Under its own Xvfb it also waits for the
# programs the program started, since they share that display.
set -uo pipefail

if [ $# -eq 0 ] || [ "$1" = "--help" ] || [ "$1" = "-h" ]; then
  sed -n '2,/^set /{/^#/s/^# \{0,1\}//p}' "$0"
  [ $# -eq 0 ] && exit 2 || exit 0
fi

here=$(cd "$(dirname "$0")/.." && pwd)
die() { echo "wine-run.sh: $*" >&2; exit 125; }

# The program's own machine type (PE header) picks the prefix and the loader.
pe_machine() {
  local offset
  offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$offset" ] && [ "$(head -c 2 "$1")" = MZ ] || return 1
  od -An -tx2 -j$((offset + 4)) -N2 "$1" 2>/dev/null | tr -d ' '
}
program=$1
[ -f "$program" ] || program=$(command -v "$program" 2>/dev/null || echo "$program")
machine=$(pe_machine "$program") || machine=
if [ -z "$machine" ]; then
  case ${QLR_WINEARCH:-win32} in
    win64) machine=8664 ;;
    win32) machine=014c ;;
    *) die "QLR_WINEARCH must be win32 or win64, not '$QLR_WINEARCH'" ;;
  esac
fi
case $machine in
  8664)
    export WINEARCH=win64
    export WINEPREFIX=${WINEPREFIX:-$here/build/wineprefix64}
    winecmd=/usr/lib/wine/wine64
    [ -x "$winecmd" ] || die "64-bit Wine is not installed (apt-get install wine64)"
    export WINELOADER=$winecmd
    ;;
  *)
    export WINEARCH=win32
    export WINEPREFIX=${WINEPREFIX:-$here/build/wineprefix}
    winecmd=wine
    ;;
esac
WINEPREFIX=${WINEPREFIX%/}
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer dialogs while the prefix is made, and no menu
# entries written into the host's desktop for the links the program makes.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}

command -v wine >/dev/null || die "wine is not installed (apt-get install wine wine32)"
if [ -z "${DISPLAY:-}" ]; then
  command -v xvfb-run >/dev/null || die "no DISPLAY and no xvfb-run (apt-get install xvfb xauth)"
  export QLR_WINE_OWN_DISPLAY=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

# One process makes the prefix; others wait for it. The marker is written
# last, so a prefix cut short by an interrupt is finished on the next run.
mkdir -p "$(dirname "$WINEPREFIX")" || die "cannot create $(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock" || die "cannot lock $WINEPREFIX"
flock 9
if [ ! -f "$WINEPREFIX/.tovanel-prefix-ready" ]; then
  if [ -f "$WINEPREFIX/system.reg" ] && ! grep -q "^#arch=$WINEARCH" "$WINEPREFIX/system.reg"; then
    die "$WINEPREFIX is not a $WINEARCH prefix; set WINEPREFIX to another folder"
  fi
  mode=-i
  [ -f "$WINEPREFIX/system.reg" ] && mode=-u
  "$winecmd" wineboot "$mode" >/dev/null 2>&1 || die "wineboot $mode failed for $WINEPREFIX"
  # A crash prints its backtrace instead of waiting for someone to close a dialog.
  "$winecmd" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 ||
    die "cannot configure $WINEPREFIX"
  "$winecmd" reg add 'HKCU\Software\Wine\DllOverrides' /v winemenubuilder.exe /t REG_SZ /d '' /f >/dev/null 2>&1 ||
    die "cannot configure $WINEPREFIX"
  # The profile's Desktop, Documents, ... link to the host's home: make them
  # real folders so that links and files a run writes stay in the prefix.
  for link in "$WINEPREFIX"/drive_c/users/*/*; do
    if [ -L "$link" ]; then rm -f "$link" && mkdir -p "$link"; fi
  done
  wineserver -w
  touch "$WINEPREFIX/.tovanel-prefix-ready"
fi
flock -u 9
exec 9>&-

"$winecmd" "$@"
status=$?
# Programs it started need the display too: let them all end before Xvfb goes.
if [ "${QLR_WINE_OWN_DISPLAY:-}" = 1 ]; then
  wineserver -w
fi
exit $status
