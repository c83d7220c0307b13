#!/usr/bin/env bash
# Takes the picture of the progress window for the README: the Windows test
# of a foundation installation runs the real Tovanel.exe under Wine and Xvfb
# and saves the screen around the window while the run waits for the
# database server installer. Needs a Windows build (cmake --preset windows).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build/windows}
out=${2:-$here/docs/progress-window.png}
tests=$build/bin/tovanel_win_tests.exe
[ -f "$tests" ] || { echo "no $tests: build the windows preset first" >&2; exit 2; }
shot=$(mktemp -d)
trap 'rm -rf "$shot"' EXIT
QLR_PROGRESS_SHOT="Z:${shot//\//\\}\\progress.bmp" \
    "$here/scripts/wine-run.sh" "$tests" --gtest_filter='ProgressDuringRun.FoundationInstallShowsTheWindowAsDesigned'
[ -f "$shot/progress.bmp" ] || { echo "the progress window was not captured" >&2; exit 1; }
mkdir -p "$(dirname "$out")"
convert "$shot/progress.bmp" -strip "$out"
echo "saved $out"
