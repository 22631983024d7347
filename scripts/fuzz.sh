#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for a bounded time (default 30 s, or $1 seconds).
# New inputs go to build/fuzz/found-<target>; the seeds in tests/corpus are only read.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null
for target in fuzzParser fuzzLoad fuzzStar; do
  found="$PWD/build/fuzz/found-$target"
  mkdir -p "$found"
  printf '== %s for %s s\n' "$target" "$seconds"
  # Any finding fails the run; its input lands in build/fuzz as <target>-crash-*.
  status=0
  "$PWD/build/fuzz/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 -error_exitcode=77 \
    -artifact_prefix="$PWD/build/fuzz/$target-" "$found" "$PWD/tests/corpus" >"build/fuzz/$target.log" 2>&1 || status=$?
  grep -E '^#[0-9]+[[:space:]]+DONE|^stat::number_of_executed_units|^==[0-9]+==|^SUMMARY|property failed' \
    "build/fuzz/$target.log" || true
  if [ "$status" -ne 0 ]; then
    tail -n 30 "build/fuzz/$target.log"
    echo "$target found a fault (exit status $status)"
    exit 1
  fi
done
