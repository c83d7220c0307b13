#!/usr/bin/env bash
# Takes the picture of the progress window for the README: the Windows test
# of a foundation installation runs the real Tovanel.exe under Wine and Xvfb
# and saves the screen around the window while the run waits for the
# database server installer. Needs the Windows build this machine runs
# (scripts/windows-build.sh: windows, or windows64 where 32-bit programs
# cannot run).
#
#   scripts/progress-screenshot.sh [BUILD_DIR] [OUT.png]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/windows-build.sh"
choose_windows_build
build=${1:-$windows_build_dir}
out=${2:-$here/docs/progress-window.png}
tests=$build/bin/tovanel_win_tests.exe
[ -f "$tests" ] || { echo "no $tests: build the $windows_preset preset first" >&2; exit 2; }
shot=$(mktemp -d)
trap 'rm -rf "$shot"' EXIT
QLR_PROGRESS_SHOT="Z:${shot//\//\\}\\progress.bmp" \
    "$here/scripts/wine-run.sh" "$tests" --gtest_filter='ProgressDuringRun.FoundationInstallShowsTheWindowAsDesigned'
[ -f "$shot/progress.bmp" ] || { echo "the progress window was not captured" >&2; exit 1; }
mkdir -p "$(dirname "$out")"
convert "$shot/progress.bmp" -strip "$out"
echo "saved $out"
