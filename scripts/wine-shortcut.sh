#!/bin/bash
# Makes the desktop shortcut with the real shell link object under Wine and
# checks the .lnk with lnkinfo (liblnk-utils), then removes it again.
#
#   scripts/wine-shortcut.sh [build/windows]
#
# Runs tests/shortcut_wine_tests.exe of the Windows build in a private prefix
# (build/wine-shortcut/prefix) with HOME set to build/wine-shortcut/home: Wine
# links the user's Desktop to $HOME/Desktop, or to $HOME itself when that does
# not exist, and the shortcut must not land outside the build folder. The
# prefix's Desktop link is then replaced by a real folder inside the prefix.
# Every check prints a line; the last reads "N passed, N failed" (gtest's
# tests included); exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
root=$(pwd)
build="${1:-build/windows}"
exe="$root/$build/tests/shortcut_wine_tests.exe"
work="$root/build/wine-shortcut"

if [ ! -f "$exe" ]; then
  echo "wine-shortcut: $exe not built (ninja -C $build shortcut_wine_tests)" >&2
  exit 1
fi

mkdir -p "$work/home"
export HOME="$work/home"
unset DISPLAY XDG_DESKTOP_DIR XDG_CONFIG_HOME
# shellcheck source=scripts/wine-env.sh
. "$root/scripts/wine-env.sh" "$work/prefix" || exit 1
trap tsl_wine_stop EXIT

for desktop in "$WINEPREFIX"/drive_c/users/*/Desktop; do
  if [ -L "$desktop" ]; then
    rm "$desktop" && mkdir "$desktop" || exit 1
  fi
done

# shellcheck source=scripts/check-lib.sh
. "$root/scripts/check-lib.sh"

create_log="$work/create.log"
wine "$exe" --gtest_filter=ShortcutWineTest.CreateMakesTheShortcutOnTheDesktop \
  >"$create_log" 2>&1
create_rc=$?
cat "$create_log"
check_gtest "shortcut_wine_tests.exe, create test" "$create_log" "$create_rc"

windows_path=$(sed -n 's/^shortcut: \(.*\)\r*$/\1/p' "$create_log" | tr -d '\r')
lnk=""
if [ -n "$windows_path" ]; then
  lnk=$(winepath -u "$windows_path" 2>/dev/null)
fi
expect "shortcut path" "$windows_path" "C:\\users\\$(id -un)\\Desktop\\Tessaline.lnk"
real=$(realpath -m "$lnk" 2>/dev/null)
case "$real" in
  "$WINEPREFIX"/drive_c/*) pass "shortcut inside the prefix: $real" ;;
  *) fail "shortcut inside the prefix" "it is at [$real]" ;;
esac

info=""
if [ -f "$lnk" ]; then
  info=$(lnkinfo "$lnk" 2>&1)
  echo "$info" | sed -n '/^Link information:/,/^$/p'
fi
# field NAME: the value lnkinfo prints for NAME in its link information.
field() { echo "$info" | sed -n "s/^[[:space:]]*$1[[:space:]]*: //p" | head -1; }
app='C:\Program Files\Maretto\TSL\Velquist.exe'
expect "lnkinfo Local path" "$(field 'Local path')" "$app"
expect "lnkinfo Working directory" "$(field 'Working directory')" 'C:\Program Files\Maretto\TSL'
expect "lnkinfo Icon location" "$(field 'Icon location')" "$app"
expect "lnkinfo Icon index" "$(field 'Icon index')" 0
expect "lnkinfo Description" "$(field 'Description')" Tessaline
expect "lnkinfo Command line arguments" "$(field 'Command line arguments')" ""
expect "lnkinfo Relative path" "$(field 'Relative path')" ""
expect "lnkinfo Hot Key value" "$(field 'Hot Key value')" 0

rest_log="$work/rest.log"
wine "$exe" --gtest_filter='ShortcutWineTest.*-ShortcutWineTest.CreateMakesTheShortcutOnTheDesktop' \
  >"$rest_log" 2>&1
rest_rc=$?
cat "$rest_log"
check_gtest "shortcut_wine_tests.exe, remaining tests" "$rest_log" "$rest_rc"
expect "shortcut gone after the remove tests" "$([ -n "$lnk" ] && [ -e "$lnk" ] && echo yes || echo no)" no
expect "no .lnk written to HOME" "$(find "$HOME" -name '*.lnk' | head -1)" ""

summary
