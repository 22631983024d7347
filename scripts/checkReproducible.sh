#!/usr/bin/env bash
# Builds Nubilo.asi and nubilo.exe with the win64 preset, the one the player's zip is made from,
# twice: from two copies of this tree in folders of different names and lengths, a few seconds
# apart. The bytes must agree with each other and with this tree's build/win64 if there is one, so
# a player or a mod site can rebuild a release and check it. The agreed SHA-256 go to
# build/reproducible.sha256, which scripts/checkPackage.sh compares the zip's Nubilo.asi with.
set -euo pipefail
cd "$(dirname "$0")/.."
sums=build/reproducible.sha256
rm -f "$sums"  # a failed run leaves no sums behind for the package check to trust

first= second=
trap 'rm -rf "$first" "$second"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
first=$(mktemp -d /tmp/nubilo-repro-XXXXXX)
second=$(mktemp -d /tmp/nubilo-repro-second-build-XXXXXX)

# The working tree as git sees it, uncommitted edits and new files included, so that what is
# checked is what build/win64 and the zip are built from; build folders and other ignored files
# stay out. The second copy is made from the first, so both build the same sources.
# safe.directory: a CI container may run as root in a checkout another user owns.
git -c safe.directory="$PWD" ls-files -z --cached --others --exclude-standard --deduplicate |
  while IFS= read -r -d '' file; do
    if [ -e "$file" ] || [ -L "$file" ]; then printf '%s\0' "$file"; fi  # deleted, not yet staged
  done |
  xargs -0 -r cp -P --parents -t "$first"
cp -a "$first/." "$second/"

# The preset's binaryDir is build/win64 inside each copy; only the two shipped programs are built.
build() {
  echo "building Nubilo.asi and nubilo.exe in $1"
  if ! (cd "$1" && cmake --preset win64 && cmake --build --preset win64 --target Nubilo nubilo) >"$1/build.log" 2>&1; then
    tail -n 40 "$1/build.log"
    echo "the build in $1 failed"
    exit 1
  fi
}
build "$first"
sleep 2  # another second on every clock the toolchain might read
build "$second"

# Byte for byte (cmp names the first byte that differs). The preset builds the tests, which put
# the programs in build/win64/bin.
programs=(Nubilo.asi nubilo.exe)
for name in "${programs[@]}"; do
  cmp "$first/build/win64/bin/$name" "$second/build/win64/bin/$name" || { echo "the two builds differ"; exit 1; }
done
# This tree's own build is what package-zip takes: built incrementally, in a third folder, at
# another time. A stale one fails too: the zip it gave is not this tree's release.
compared=
for name in "${programs[@]}"; do
  [ -f "build/win64/bin/$name" ] || continue
  cmp "$first/build/win64/bin/$name" "build/win64/bin/$name" || {
    echo "this tree's build/win64 differs from the two builds (if it is older than the sources: cmake --build --preset win64, then run this again)"
    exit 1
  }
  compared+=" $name"
done
echo "this tree's build/win64:${compared:- nothing built there to compare}${compared:+ the same}"

mkdir -p build
(cd "$first/build/win64/bin" && sha256sum "${programs[@]}") > "$sums"
cat "$sums"
echo "all builds give the same bytes (SHA-256 in $sums)"
