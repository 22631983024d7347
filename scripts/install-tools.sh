#!/usr/bin/env bash
# Installs, on Debian, what the named purposes need that the machine lacks; with no purpose named,
# everything the test command needs. Purposes:
#   native    the Linux build: compiler, CMake, GoogleTest (what scripts/demo.sh needs)
#   win64     Nubilo.asi with MinGW-w64, and Wine for its tests
#   designer  the designer page: emscripten, chromium, firefox-esr, Node and the pinned npm packages
#   fuzz      the libFuzzer targets (clang 14)
#   bench     Google Benchmark
#   all       all of the above, and the workflow linter (npm)
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A lists=(
  [native]="cmake make g++ libgtest-dev libgmock-dev"
  [win64]="cmake make g++-mingw-w64-x86-64-posix wine64"
  [designer]="cmake make emscripten chromium firefox-esr"
  [fuzz]="cmake make clang-14 libclang-rt-14-dev"
  [bench]="cmake make g++ libbenchmark-dev"
)

purposes=("$@")
[ ${#purposes[@]} -gt 0 ] || purposes=(all)
packages=()
needNpm=false
for purpose in "${purposes[@]}"; do
  case "$purpose" in
    all) for list in "${lists[@]}"; do read -ra more <<<"$list"; packages+=("${more[@]}"); done; needNpm=true ;;
    designer) read -ra more <<<"${lists[designer]}"; packages+=("${more[@]}"); needNpm=true ;;
    native|win64|fuzz|bench) read -ra more <<<"${lists[$purpose]}"; packages+=("${more[@]}") ;;
    *) echo "install-tools: unknown purpose '$purpose' (native, win64, designer, fuzz, bench, all)" >&2; exit 2 ;;
  esac
done
if $needNpm && ! command -v npm >/dev/null; then packages+=(nodejs npm); fi

missing=()
for package in $(printf '%s\n' "${packages[@]}" | sort -u); do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done

if [ ${#missing[@]} -gt 0 ]; then
  cannot() {
    echo "install-tools: $1; as root run:" >&2
    echo "  apt-get update && apt-get install -y --no-install-recommends ${missing[*]}" >&2
    exit 1
  }
  sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || cannot "missing packages and no sudo to install them"
    # Asks for the password once, here; a user sudo refuses gets the same line to hand to root.
    sudo true 2>/dev/null || cannot "missing packages and sudo refuses $(id -un)"
    sudo=(sudo)
  fi
  echo "installing: ${missing[*]}"
  # apt's own output is a wall; a line every few packages (and at each phase's end) shows it moves.
  progress() {
    awk -v every=25 '
      /^Get:/        { got++;      if (got % every == 0) printf "  downloaded %d packages\n", got }
      /^Need to get/ { print "  " $0 }
      /^Unpacking /  { unpacked++; if (unpacked % every == 0) printf "  unpacked %d\n", unpacked }
      /^Setting up / { set++;      if (set % every == 0) printf "  set up %d\n", set }
      END            { if (set) printf "  set up %d packages in all\n", set }
    ' || true
  }
  echo "  reading Debian's package lists"
  "${sudo[@]}" apt-get -q update >/dev/null
  # Without apt-utils, debconf says on every install that it delays configuration: nothing to act on.
  if ! "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -q install -y --no-install-recommends "${missing[@]}" \
      2> >(grep -v '^debconf: delaying package configuration' >&2) | progress; then
    echo "install-tools: apt-get install failed" >&2
    exit 1
  fi
fi

if $needNpm && { [ ! -f node_modules/.package-lock.json ] || ! cmp -s package-lock.json node_modules/.lock-copy; }; then
  echo "installing: npm packages of package-lock.json"
  # No update notice, no progress bar, no funding lines; warnings (an engine mismatch) still show.
  npm ci --no-audit --no-fund --no-update-notifier --no-progress --loglevel=warn
  cp package-lock.json node_modules/.lock-copy
fi
