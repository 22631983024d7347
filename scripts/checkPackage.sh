#!/usr/bin/env bash
# The player's zip holds exactly what players get, and its README reads well in Notepad; its
# Nubilo.asi is the one two separate rebuilds give.
# scripts/checkPackage.sh Nubilo-<version>-win64.zip build/reproducible.sha256
# (the second file is what scripts/checkReproducible.sh writes)
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 Nubilo-<version>-win64.zip build/reproducible.sha256"; exit 2; }
zip=$(realpath "$1")
[ -f "$2" ] || { echo "$2 is missing: run scripts/checkReproducible.sh first"; exit 1; }
rebuilt=$(awk '$2 == "Nubilo.asi" { print $1 }' "$2")
[[ "$rebuilt" =~ ^[0-9a-f]{64}$ ]] || { echo "$2 has no SHA-256 for Nubilo.asi"; exit 1; }
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
(cd "$unpacked" && cmake -E tar xf "$zip")
listing=$(cd "$unpacked" && find . -type f | sed 's|^\./||' | sort | tr '\n' '|')
expected="Nubilo Designer.html|Nubilo README.txt|Nubilo.asi|SHA256SUMS.txt|"
[ "$listing" = "$expected" ] || { echo "package holds: $listing, wanted: $expected"; exit 1; }
readme="$unpacked/Nubilo README.txt"
# Every line ends in CR LF, the last one included.
if grep -q $'[^\r]$' "$readme" || grep -qx '' "$readme" || [ "$(tail -c 2 "$readme" | od -An -c | tr -d ' ')" != '\r\n' ]; then
  echo "Nubilo README.txt has a line end other than CR LF"
  exit 1
fi
grep -q 'createNubilo' "$unpacked/Nubilo Designer.html" || { echo "Nubilo Designer.html lacks its module"; exit 1; }
# The sums are those of the files beside them, Nubilo.asi's among them (--strict: a malformed line
# fails rather than being skipped).
(cd "$unpacked" && tr -d '\r' < SHA256SUMS.txt | sha256sum --check --quiet --strict) || { echo "SHA256SUMS.txt does not match"; exit 1; }
listed=$(tr -d '\r' < "$unpacked/SHA256SUMS.txt" | awk '$2 == "Nubilo.asi" { print $1 }')
grep -q '  Nubilo.asi'$'\r''$' "$unpacked/SHA256SUMS.txt" || { echo "SHA256SUMS.txt lacks Nubilo.asi"; exit 1; }
# The Nubilo.asi that ships, and the one its sums name, are the bytes of the reproducible builds.
shipped=$(sha256sum < "$unpacked/Nubilo.asi" | cut -d' ' -f1)
if [ "$shipped" != "$rebuilt" ] || [ "$listed" != "$rebuilt" ]; then
  echo "the zip's Nubilo.asi is not the reproducible builds' one:"
  echo "  in the zip:        $shipped"
  echo "  in SHA256SUMS.txt: $listed"
  echo "  rebuilt, in $2: $rebuilt"
  exit 1
fi
echo "package ok: $(echo "$listing" | tr '|' ' ')($(wc -l < "$readme") README lines, CR LF; Nubilo.asi $shipped, as rebuilt)"
