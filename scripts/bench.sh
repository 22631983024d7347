#!/usr/bin/env bash
# Builds the benchmarks in Release and runs them; the medians of five runs give the ratios.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-tools.sh bench designer win64
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
./build/bench/bench/nubiloBenchmarks --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true "$@"

echo
echo "The designer page (median of 5 loads in Debian's chromium):"
cmake --preset designer >/dev/null
cmake --build --preset designer >/dev/null
node bench/designer.bench.mjs

echo
echo "The shipped Nubilo.asi under Wine (each pass of one advance, timed alone):"
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target Nubilo nubiloWinRace >/dev/null
# The same Wine prefix and settings as the win64 tests: nothing written outside the build folder.
win=$PWD/build/win64
mkdir -p "$win/winetmp"
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
(cd "$win/bin" && WINEDEBUG=-all WINEPREFIX="$win/wineprefix" WINEDLLOVERRIDES=winemenubuilder.exe=d \
  TMPDIR="$win/winetmp" "$wine" nubiloWinRace.exe times Nubilo.asi)
