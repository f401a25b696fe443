#!/usr/bin/env bash
# Every constant platform/*.h copies from Windows must be compared with
# <windows.h>: numbers by a static_assert in platform/win32/constants_check.cc
# (the Windows build fails on a wrong one), pointers and GUIDs in
# tests/wine/constants_test.cc. This lists each `k...` constant of the
# headers, in any form, and fails for any named in neither file, so a new one cannot be
# added unchecked. The last line reads "N passed, N failed".
#
# A constant that <windows.h> of MinGW-w64 does not have goes into
# `unchecked` below, with the reason.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=scripts/check-lib.sh
. "$repo/scripts/check-lib.sh"

declare -A unchecked=(
  # Newer than MinGW-w64's dwmapi.h (Windows SDK 10.0.22000: 20).
  [kDwmwaUseImmersiveDarkMode]=1
)

checks="$(cat "$repo/platform/win32/constants_check.cc" "$repo/tests/wine/constants_test.cc")"
# Every `kName =` or `kName[] =` outside comments, whatever its declaration
# (constexpr, const, `inline T const`, an array, an enumerator), so no form
# of constant slips past.
names="$(sed -E 's://.*$::' "$repo"/platform/*.h |
  grep -oE '\bk[A-Z][A-Za-z0-9_]*(\[[0-9]*\])? *=([^=]|$)' | grep -oE '^k[A-Za-z0-9_]+' | sort -u)"
count=0
for name in $names; do
  count=$((count + 1))
  if [ -n "${unchecked[$name]-}" ]; then
    echo "skip $name (not in MinGW-w64's headers)"
  elif grep -qw -- "$name" <<<"$checks"; then
    passed=$((passed + 1))
  else
    fail "$name" "not compared with <windows.h> in platform/win32/constants_check.cc or tests/wine/constants_test.cc"
  fi
done
echo "check-constants: $count constants in platform/*.h, $passed compared with <windows.h>"
summary
