#!/usr/bin/env bash
# Builds the Linux targets (plug-in core, tool, tests) and shows a day of the weather cycle on
# the plug-in's defaults.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-tools.sh
echo "building: the plug-in's core, the nubilo tool and the tests (build/default)"
cmake --preset default >/dev/null
cmake --build --preset default >/dev/null
./build/default/tools/nubilo simulate "$@"
