#!/usr/bin/env bash
# All tests on a fresh machine: install what is missing, build both targets,
# run the native tests (sanitizers on), the Windows tests under Wine, then
# each fuzz target for QLR_FUZZ_SECONDS (default 60).
#
# The shipped 32-bit Tovanel.exe is always built; the Windows tests run it
# under 32-bit Wine where this machine can, else the 64-bit build under
# 64-bit Wine (QLR_WINDOWS_BUILD=32|64 forces one; scripts/windows-build.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
. scripts/windows-build.sh
choose_windows_build
jobs=${QLR_JOBS:-2}

cmake --preset native >/dev/null
cmake --build --preset native -j"$jobs"
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$jobs"
echo "Tovanel.exe (32-bit, stripped): $(stat -c %s build/windows/bin/Tovanel.exe) bytes"
if [ "$windows_preset" != windows ]; then
  cmake --preset "$windows_preset" >/dev/null
  cmake --build --preset "$windows_preset" -j"$jobs"
fi

status=0
ctest --preset native -j"$jobs" || status=1
# Updates killed at random moments never leave a torn or half-installed version.
scripts/killpoint.sh --kills "${QLR_KILLPOINT_KILLS:-50}" || status=1
# One virtual display for the whole Windows run, so that each case starts
# Wine at once instead of a display of its own.
if [ -z "${DISPLAY:-}" ]; then
  xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset "$windows_preset" || status=1
else
  ctest --preset "$windows_preset" || status=1
fi
# Fuzzing that sees the code: 60 s a target.
scripts/fuzz.sh "${QLR_FUZZ_SECONDS:-60}" || status=1
exit $status
