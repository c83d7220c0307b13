#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy) over the sources of the native build, as its
# compile_commands.json compiles them; exits 1 on any finding.
#
#   scripts/tidy.sh [FILE...]   the given files, or every tracked *.cpp the
#                               native build compiles
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = -h ] || [ "${1:-}" = --help ]; then sed -n '2,6s/^# \{0,1\}//p' "$0"; exit 0; fi
command -v clang-tidy >/dev/null || { echo "tidy.sh: clang-tidy is not installed" >&2; exit 2; }
build=build/native
if [ ! -f $build/compile_commands.json ]; then
  cmake --preset native >/dev/null
fi
if [ $# -gt 0 ]; then
  files=("$@")
else
  mapfile -t files < <(git ls-files -- 'src/*.cpp' 'tools/*.cpp' 'tests/native/*.cpp' 'bench/*.cpp' |
                       while read -r f; do grep -q "\"file\": \"$PWD/$f\"" $build/compile_commands.json && echo "$f"; done)
fi
jobs=${QLR_JOBS:-2}
printf '%s\n' "${files[@]}" | xargs -P "$jobs" -n 4 clang-tidy -p $build --quiet 2>/dev/null
