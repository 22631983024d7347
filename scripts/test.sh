#!/usr/bin/env bash
# Everything CI runs: installs what is missing, then builds and tests every target.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-tools.sh

step() { printf '\n==== %s\n' "$*"; }

step "Linux build and tests"
cmake --preset default
cmake --build --preset default
ctest --preset default
