#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (the code under test instrumented
# as well) and runs each for a while from its committed seeds. New inputs
# collect in build/fuzz/corpus/TARGET, crashes in build/fuzz/artifacts/.
#   scripts/fuzz.sh [SECONDS-PER-TARGET]   (default 60)
# Exit status: 0 when no target found a fault, 1 otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"${QLR_JOBS:-2}" --target fuzz_targets
mkdir -p build/fuzz/artifacts
status=0
while read -r target; do
  [ -n "$target" ] || continue
  corpus=build/fuzz/corpus/$target
  mkdir -p "$corpus"
  options=(-max_total_time="$seconds" -max_len=65536 -print_final_stats=1
           -artifact_prefix="build/fuzz/artifacts/$target-")
  [ -f "tests/fuzz/$target.dict" ] && options+=(-dict="tests/fuzz/$target.dict")
  inputs=("$corpus")
  [ -d "tests/fuzz/seeds/$target" ] && inputs+=("tests/fuzz/seeds/$target")
  log=build/fuzz/$target.log
  echo "== $target (${seconds} s)"
  if build/fuzz/bin/"$target" "${options[@]}" "${inputs[@]}" >"$log" 2>&1; then
    grep -E '^#[0-9]+[[:space:]]+DONE' "$log" || tail -n 3 "$log"
  else
    status=1
    echo "$target found a fault; the end of $log:"
    tail -n 60 "$log"
  fi
done < build/fuzz/fuzz-targets.txt
exit $status
