#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's 32-bit prefix, with a
# virtual display (Xvfb) when none is set. CTest uses it as the
# crosscompiling emulator, so Windows test executables run through it.
#
#   scripts/wine-run.sh PROGRAM.exe [ARGS...]
#
# WINEPREFIX   prefix to use (default: <repo>/build/wineprefix); made on
#              first use (wineboot, about 6 s), shared by later runs.
# Unix environment variables (QLR_UPDATE_BASE_URL, ...) reach the program.
# The exit code is the program's. Under its own Xvfb it also waits for the
# programs the program started, since they share that display.
set -uo pipefail

if [ $# -eq 0 ] || [ "$1" = "--help" ] || [ "$1" = "-h" ]; then
  sed -n '2,14s/^# \{0,1\}//p' "$0"
  [ $# -eq 0 ] && exit 2 || exit 0
fi

here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$here/build/wineprefix}
WINEPREFIX=${WINEPREFIX%/}
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer dialogs while the prefix is made, and no menu
# entries written into the host's desktop for the links the program makes.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}

die() { echo "wine-run.sh: $*" >&2; exit 125; }

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
  if [ -f "$WINEPREFIX/system.reg" ] && ! grep -q '^#arch=win32' "$WINEPREFIX/system.reg"; then
    die "$WINEPREFIX is not a 32-bit prefix; set WINEPREFIX to another folder"
  fi
  mode=-i
  [ -f "$WINEPREFIX/system.reg" ] && mode=-u
  wineboot "$mode" >/dev/null 2>&1 || die "wineboot $mode failed for $WINEPREFIX"
  # A crash prints its backtrace instead of waiting for someone to close a dialog.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 ||
    die "cannot configure $WINEPREFIX"
  wine reg add 'HKCU\Software\Wine\DllOverrides' /v winemenubuilder.exe /t REG_SZ /d '' /f >/dev/null 2>&1 ||
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

wine "$@"
status=$?
# Programs it started need the display too: let them all end before Xvfb goes.
if [ "${QLR_WINE_OWN_DISPLAY:-}" = 1 ]; then
  wineserver -w
fi
exit $status
