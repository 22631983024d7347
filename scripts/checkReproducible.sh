#!/usr/bin/env bash
# Builds Nubilo.asi and nubilo.exe twice, in two folders of different names and at two different
# times, and compares the bytes: a player or a mod site can rebuild the release and check it.
set -euo pipefail
cd "$(dirname "$0")/.."
first=$(mktemp -d /tmp/nubilo-repro-XXXXXX)
second=$(mktemp -d /tmp/nubilo-repro-second-build-XXXXXX)
trap 'rm -rf "$first" "$second"' EXIT
build() {
  cmake -S . -B "$1" --toolchain cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release -DNUBILO_TESTS=OFF >/dev/null
  cmake --build "$1" -j 2 --target Nubilo nubilo >/dev/null
  (cd "$1" && sha256sum Nubilo.asi tools/nubilo.exe)
}
echo "building Nubilo.asi and nubilo.exe in $first"
one=$(build "$first")
sleep 2  # another second on every clock the toolchain might read
echo "building them again in $second"
two=$(build "$second")
echo "$one"
if [ "$one" != "$two" ]; then
  echo "the two builds differ:"
  echo "$two"
  exit 1
fi
echo "both builds give the same bytes"
