#!/usr/bin/env bash
# Everything CI runs: installs what is missing, then builds and tests every target.
set -euo pipefail
cd "$(dirname "$0")/.."
# No npm update notices or progress bars in the log.
export NPM_CONFIG_UPDATE_NOTIFIER=false NPM_CONFIG_PROGRESS=false NPM_CONFIG_FUND=false
bash scripts/install-tools.sh all

# Each step's line, and how long the step before it took.
began=$SECONDS
last=
step() {
  [ -z "$last" ] || printf '(%d s)\n' $((SECONDS - last))
  last=$SECONDS
  printf '\n==== %s\n' "$*"
}
trap 'printf "(%d s)\n\nall steps: %d s\n" $((SECONDS - ${last:-$began})) $((SECONDS - began))' EXIT

step "Linux build and tests"
cmake --preset default
cmake --build --preset default
ctest --preset default

step "Editor saves racing the plug-in's loop (N saves, M lost per configuration)"
ctest --preset race

step "The same tests under AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer"
cmake --preset asan
cmake --build --preset asan
ctest --preset asan

step "Bounded fuzzing of the parser, the loader and the star's rewrite"
bash scripts/fuzz.sh "${NUBILO_FUZZ_SECONDS:-30}"

step "The designer page (WebAssembly), tested in Debian's chromium and firefox-esr from file://"
cmake --preset designer
cmake --build --preset designer
node --test tests/browser/

step "Windows plug-in (MinGW-w64), end-to-end under Wine, player's package made"
cmake --preset win64
cmake --build --preset win64
ctest --preset win64
cmake --build --preset win64 --target package-zip

step "Reproducible release: two more builds of the win64 preset, compared byte for byte with each other and build/win64; the player's package checked, its Nubilo.asi against them"
bash scripts/checkReproducible.sh
bash scripts/checkPackage.sh build/win64/Nubilo-*-win64.zip build/reproducible.sha256

step "GitHub Actions workflow (not run here: linted against the workflow schema)"
npx --no-install action-validator .github/workflows/*.yml && echo "workflow files valid"
