#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while.
#   scripts/fuzz.sh [SECONDS-PER-TARGET]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2 --target package_fuzz update_list_fuzz options_fuzz signature_fuzz
for target in package_fuzz update_list_fuzz options_fuzz signature_fuzz; do
  corpus=build/fuzz/corpus/$target
  mkdir -p "$corpus"
  echo "== $target (${seconds} s)"
  build/fuzz/bin/$target -max_total_time="$seconds" -max_len=65536 "$corpus"
done
