#!/usr/bin/env bash
# Formats the project's C++ sources (every tracked *.cpp and *.h) by
# .clang-format.
#
#   scripts/format.sh           rewrite the files in place
#   scripts/format.sh --check   change nothing: list each file that would
#                               change with its count of changed lines, and
#                               exit 1 when there is any
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { sed -n '2,9s/^# \{0,1\}//p' "$0"; }
check=0
case ${1:-} in
  -h|--help) usage; exit 0 ;;
  --check) check=1 ;;
  "") ;;
  *) usage >&2; exit 2 ;;
esac
command -v clang-format >/dev/null || { echo "format.sh: clang-format is not installed" >&2; exit 2; }

mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
if [ $check = 0 ]; then
  clang-format -i --style=file "${files[@]}"
  exit 0
fi
total=0
for file in "${files[@]}"; do
  changed=$(clang-format --style=file "$file" | diff "$file" - | grep -c '^<' || true)
  if [ "$changed" -gt 0 ]; then
    echo "$file: $changed lines"
    total=$((total + changed))
  fi
done
echo "format.sh: $total lines would change"
[ $total = 0 ]
