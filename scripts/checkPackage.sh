#!/usr/bin/env bash
# The player's zip holds exactly what players get, and its README reads well in Notepad.
set -euo pipefail
zip="$1"
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
(cd "$unpacked" && cmake -E tar xf "$OLDPWD/$zip")
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
# The sums are those of the files beside them, Nubilo.asi's among them.
(cd "$unpacked" && tr -d '\r' < SHA256SUMS.txt | sha256sum --check --quiet) || { echo "SHA256SUMS.txt does not match"; exit 1; }
grep -q '  Nubilo.asi'$'\r''$' "$unpacked/SHA256SUMS.txt" || { echo "SHA256SUMS.txt lacks Nubilo.asi"; exit 1; }
echo "package ok: $(echo "$listing" | tr '|' ' ')($(wc -l < "$readme") README lines, CR LF)"
