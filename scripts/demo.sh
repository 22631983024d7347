#!/usr/bin/env bash
# Builds the nubilo tool (the plug-in's core on the substitute host) and shows a day of the weather
# cycle on the plug-in's defaults. Installs only the native build's packages.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-tools.sh native
echo "building: the nubilo tool (build/default)"
cmake --preset default >/dev/null
# One line per source compiled, so a first build shows that it moves.
cmake --build --preset default --target nubilo | { grep --line-buffered -E '^\[ *[0-9]+%\] Building' || true; } \
  | sed -u -E 's/^\[ *([0-9]+%)\] Building CXX object .*\.dir\/(.*)\.o$/  \1 \2/'
echo
./build/default/tools/nubilo simulate "$@"
