#!/usr/bin/env bash
# Installs, on Debian, whatever the build and the tests need that the machine lacks: Debian's
# packages, then the pinned npm packages of package-lock.json (a browser driver that uses
# Debian's chromium, and a workflow linter).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake make g++ libgtest-dev libgmock-dev libbenchmark-dev clang-14 libclang-rt-14-dev
          g++-mingw-w64-x86-64-posix wine64 emscripten chromium)
command -v npm >/dev/null || packages+=(nodejs npm)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "install-tools: missing packages and no sudo to install them; as root run:" >&2
      echo "  apt-get update && apt-get install -y --no-install-recommends ${missing[*]}" >&2
      exit 1
    fi
    sudo=(sudo)
  fi
  echo "installing: ${missing[*]}"
  # One line per package fetched and set up, so a long first install shows that it moves.
  progress() { grep --line-buffered -E "$1" | sed -u 's/^/  /' || true; }
  "${sudo[@]}" apt-get -q update > >(progress '^(Hit|Get):')
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -q install -y --no-install-recommends "${missing[@]}" \
    > >(progress '^(Need to get|Setting up) ')
fi

if [ ! -f node_modules/.package-lock.json ] || ! cmp -s package-lock.json node_modules/.lock-copy; then
  echo "installing: npm packages of package-lock.json"
  npm ci --no-audit --no-fund --loglevel=error
  cp package-lock.json node_modules/.lock-copy
fi
