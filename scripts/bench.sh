#!/usr/bin/env bash
# Builds the benchmarks in Release and runs them; the medians of five runs give the ratios.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-tools.sh bench designer
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
./build/bench/bench/nubiloBenchmarks --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true "$@"

echo
echo "The designer page (median of 5 loads in Debian's chromium):"
cmake --preset designer >/dev/null
cmake --build --preset designer >/dev/null
node bench/designer.bench.mjs
