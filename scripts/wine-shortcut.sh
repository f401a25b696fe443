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
# Prints gtest's counts and one line for the lnkinfo checks; exits non-zero
# on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build="${1:-build/windows}"
exe="$root/$build/tests/shortcut_wine_tests.exe"
work="$root/build/wine-shortcut"

if [ ! -f "$exe" ]; then
  echo "wine-shortcut: $exe not built (ninja -C $build shortcut_wine_tests)" >&2
  exit 1
fi

mkdir -p "$work/home" "$work/prefix"
export HOME="$work/home"
export WINEPREFIX="$work/prefix"
# Wine keeps its server's folders under TMPDIR; they stay inside build/.
export TMPDIR="$root/build/wine-tmp"
mkdir -p "$TMPDIR"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY XDG_DESKTOP_DIR XDG_CONFIG_HOME

stop_wine() { wineserver -k 2>/dev/null; wineserver -w 2>/dev/null; }
trap stop_wine EXIT

# wineboot writes system.reg last, so it marks a finished prefix; the lock
# keeps two runs from creating it at once.
(
  flock 9 || exit 1
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine-shortcut: creating Wine prefix $WINEPREFIX" >&2
    wineboot -i >/dev/null 2>&1 && wineserver -w && [ -f "$WINEPREFIX/system.reg" ] || exit 1
  fi
) 9>"$work/.prefix.lock" || { echo "wine-shortcut: no Wine prefix" >&2; exit 1; }

for desktop in "$WINEPREFIX"/drive_c/users/*/Desktop; do
  if [ -L "$desktop" ]; then
    rm "$desktop" && mkdir "$desktop" || exit 1
  fi
done

failed=0
passed=0
failures=()

# check NAME EXPECTED ACTUAL
check() {
  if [ "$2" == "$3" ]; then
    passed=$((passed + 1))
    echo "ok   $1: '$3'"
  else
    failed=$((failed + 1))
    failures+=("$1")
    echo "FAIL $1: expected '$2', got '$3'"
  fi
}

create_log="$work/create.log"
wine "$exe" --gtest_filter=ShortcutWineTest.CreateMakesTheShortcutOnTheDesktop \
  >"$create_log" 2>&1
create_rc=$?
cat "$create_log"
if [ "$create_rc" -ne 0 ]; then
  failed=$((failed + 1))
  failures+=("shortcut_wine_tests.exe, create test (exit $create_rc)")
fi

windows_path=$(sed -n 's/^shortcut: \(.*\)\r*$/\1/p' "$create_log" | tr -d '\r')
lnk=""
if [ -n "$windows_path" ]; then
  lnk=$(winepath -u "$windows_path" 2>/dev/null)
fi
check "shortcut path" 'C:\users\'"$(id -un)"'\Desktop\Tessaline.lnk' "$windows_path"
real=$(realpath -m "$lnk" 2>/dev/null)
case "$real" in
  "$WINEPREFIX"/drive_c/*) check "shortcut inside the prefix" yes yes ;;
  *) check "shortcut inside the prefix" "$WINEPREFIX/drive_c/..." "$real" ;;
esac

info=""
if [ -f "$lnk" ]; then
  info=$(lnkinfo "$lnk" 2>&1)
  echo "$info" | sed -n '/^Link information:/,/^$/p'
fi
# field NAME: the value lnkinfo prints for NAME in its link information.
field() { echo "$info" | sed -n "s/^[[:space:]]*$1[[:space:]]*: //p" | head -1; }
app='C:\Program Files\Maretto\TSL\Velquist.exe'
check "lnkinfo Local path" "$app" "$(field 'Local path')"
check "lnkinfo Working directory" 'C:\Program Files\Maretto\TSL' "$(field 'Working directory')"
check "lnkinfo Icon location" "$app" "$(field 'Icon location')"
check "lnkinfo Icon index" 0 "$(field 'Icon index')"
check "lnkinfo Description" Tessaline "$(field 'Description')"
check "lnkinfo Command line arguments" "" "$(field 'Command line arguments')"
check "lnkinfo Relative path" "" "$(field 'Relative path')"
check "lnkinfo Hot Key value" 0 "$(field 'Hot Key value')"

wine "$exe" --gtest_filter='ShortcutWineTest.*-ShortcutWineTest.CreateMakesTheShortcutOnTheDesktop' 2>&1
rest_rc=$?
if [ "$rest_rc" -ne 0 ]; then
  failed=$((failed + 1))
  failures+=("shortcut_wine_tests.exe, remaining tests (exit $rest_rc)")
fi
check "shortcut gone after the remove tests" no "$([ -n "$lnk" ] && [ -e "$lnk" ] && echo yes || echo no)"
check "no .lnk written to HOME" "" "$(find "$HOME" -name '*.lnk' | head -1)"

echo "[  PASSED  ] $passed lnkinfo and file checks."
if [ "$failed" -ne 0 ]; then
  echo "[  FAILED  ] $failed tests, listed below:"
  printf '[  FAILED  ] %s\n' "${failures[@]}"
  exit 1
fi
exit 0
