#!/bin/bash
# Builds TessalineSetup.exe a second time from a copy of the tracked sources
# in another folder and compares its SHA-256 with build/windows's: equal sums
# show the build depends on nothing but the source and the toolchain.
# Ends with "N passed, N failed".
#   scripts/repro-check.sh
set -uo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
first="$repo/build/windows/TessalineSetup.exe"

"$repo/scripts/build-windows.sh" TessalineSetup >/dev/null || {
  echo "first build failed"
  echo "0 passed, 1 failed"
  exit 1
}

copy=$(mktemp -d "${TMPDIR:-/tmp}/tsl-repro.XXXXXX")
trap 'rm -rf "$copy"' EXIT
# The working tree's tracked files as they are now (edits included), in a
# folder of another name and depth.
mkdir -p "$copy/elsewhere/src"
(cd "$repo" && git ls-files -z --cached --others --exclude-standard |
  xargs -0 cp --parents -t "$copy/elsewhere/src" 2>/dev/null)
if ! "$copy/elsewhere/src/scripts/build-windows.sh" TessalineSetup >"$copy/build.log" 2>&1; then
  tail -20 "$copy/build.log"
  echo "0 passed, 1 failed"
  exit 1
fi
second="$copy/elsewhere/src/build/windows/TessalineSetup.exe"

sum1=$(sha256sum <"$first" | cut -d' ' -f1)
sum2=$(sha256sum <"$second" | cut -d' ' -f1)
echo "first:  $sum1  $first"
echo "second: $sum2  (built in $copy/elsewhere/src)"
if [ "$sum1" = "$sum2" ]; then
  echo "1 passed, 0 failed"
else
  cmp -l "$first" "$second" | head -20
  echo "0 passed, 1 failed"
  exit 1
fi
