#!/bin/bash
# Runs the uninstall for real under Wine:
#  1. uninstall_wine_tests.exe under trace_collector.exe (which catches the
#     OutputDebugString lines Wine does not print): tree removal, firewall
#     clean-up;
#  2. the whole uninstall as Add/Remove Programs starts it: the same program
#     copied to C:\Program Files\Maretto\TSL\updater.exe in the prefix and run
#     from there, on an Xvfb display for its windows and the warning box,
#     once with the move of the running program refused and once with it
#     moved out; then the deferred deletion is checked with `wine reg query`
#     and seen done after a restart of the prefix;
#  3. the tree contract tests.
# Builds the Windows targets first when needed. Uses a Wine prefix of its own
# (build/wine-uninstall/prefix, or $TSL_WINEPREFIX), since step 2 writes to
# its Program Files and HKLM and restarts it, with HOME in
# build/wine-uninstall/home (Wine links the Desktop to $HOME); stops its
# wineserver and Xvfb at the end and leaves nothing outside build/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build="$root/build/windows"
work="$root/build/wine-uninstall"

if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
fi
ninja -C "$build" -j2 uninstall_wine_tests trace_collector contract_tests >/dev/null

mkdir -p "$work/home"
export HOME="$work/home"
unset DISPLAY XDG_DESKTOP_DIR XDG_CONFIG_HOME
# shellcheck source=scripts/wine-env.sh
. scripts/wine-env.sh "${TSL_WINEPREFIX:-$work/prefix}"

# The shortcut the test lays out must not land in $HOME: make the prefix's
# Desktop a real folder.
for desktop in "$WINEPREFIX"/drive_c/users/*/Desktop; do
  if [ -L "$desktop" ]; then rm "$desktop" && mkdir "$desktop"; fi
done

# A folder of the prefix's C: drive for this run, shown to Windows as C:\...
run_name="tsl-uninstall-run-$$"
run_dir="$WINEPREFIX/drive_c/$run_name"
run_win="C:\\$run_name"
install_dir="$WINEPREFIX/drive_c/Program Files/Maretto/TSL"
install_exe='C:\Program Files\Maretto\TSL\updater.exe'
session_manager='HKLM\System\CurrentControlSet\Control\Session Manager'

cleanup() {
  rm -rf "$run_dir"
  tsl_wine_display_stop || true
  tsl_wine_stop || true
}
trap cleanup EXIT

# One session for the whole run, so that nothing pending is carried out
# before the checks; its background programs start here, away from any pipe.
# (The wine-env.sh functions are called with || so that set -e does not end
# the script inside them on an expected non-zero status.)
tsl_wine_stop || true
# The session's desktop is made by its first program and keeps the display
# it found: an Xvfb of this run from the start, or the windows of the tests
# that need one cannot be created.
tsl_wine_display_start || { echo "wine-uninstall: no Xvfb display" >&2; exit 1; }
wineserver -p
wine cmd /c exit >/dev/null 2>&1

# Wine 8 cannot create junctions; its folder links are Unix symbolic links,
# which it reports with FILE_ATTRIBUTE_REPARSE_POINT. The test walks
# tree\ and must leave outside\ alone.
mkdir -p "$run_dir/links/tree" "$run_dir/links/outside"
echo own >"$run_dir/links/tree/own.txt"
echo keep >"$run_dir/links/outside/keep.txt"
ln -s ../outside "$run_dir/links/tree/link"

# Z: is Wine's view of the Unix root.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# shellcheck source=scripts/check-lib.sh
. scripts/check-lib.sh
logs="$work/logs"
rm -rf "$logs"
mkdir -p "$logs"

# run_gtest NAME COMMAND...: runs a GoogleTest program, shows its output and
# counts its tests.
run_gtest() {
  local name="$1" rc=0
  shift
  "$@" >"$logs/$name.log" 2>&1 || rc=$?
  cat "$logs/$name.log"
  check_gtest "$name" "$logs/$name.log" "$rc"
}

run_gtest uninstall_wine_tests wine "$build/tests/trace_collector.exe" "$run_win\\trace.log" \
  "$(windows_path "$build/tests/uninstall_wine_tests.exe")" \
  "--trace-file=$run_win\\trace.log" "--link-fixture=$run_win\\links" \
  '--gtest_filter=-UninstallFromInstallFolder*'
echo "--- debug output caught by trace_collector:"
cat "$run_dir/trace.log" 2>/dev/null || true
echo "---"
check "the walk did not go through the link into outside/" test -e "$run_dir/links/outside/keep.txt"

# ---- The whole uninstall, started from the install folder ----
from_install_folder() {  # from_install_folder TEST
  mkdir -p "$install_dir"
  cp "$build/tests/uninstall_wine_tests.exe" "$install_dir/updater.exe"
  run_gtest "$1" wine "$build/tests/trace_collector.exe" "$run_win\\$1.log" "$install_exe" \
    "--trace-file=$run_win\\$1.log" "--gtest_filter=UninstallFromInstallFolderTest.$1"
  echo "--- debug output of $1:"
  cat "$run_dir/$1.log" 2>/dev/null || true
  echo "---"
}

from_install_folder RefusedMoveLeavesTheTwoFolderWarnings
from_install_folder RunningProgramIsMovedOutAndDeletedAtRestart
tsl_wine_display_stop || true

# The moved program's path, from the trace line that names it.
parked=$(sed -n 's/^[AW]\t\[Uninstall\] Moved the running program out to: \(.*\)%0A$/\1/p' \
  "$run_dir/RunningProgramIsMovedOutAndDeletedAtRestart.log" 2>/dev/null || true)
check "the trace names where the program went ($parked)" test -n "$parked"
parked_unix=""
if [ -n "$parked" ]; then parked_unix=$(wine winepath -u "$parked" 2>/dev/null || true); fi
check "the install folder and its parent are gone" \
  test ! -e "$WINEPREFIX/drive_c/Program Files/Maretto"
check "the moved program is in the temp folder ($parked_unix)" \
  test -n "$parked_unix" -a -f "$parked_unix"
pending=$(wine reg query "$session_manager" /v PendingFileRenameOperations 2>&1 || true)
echo "$pending"
# REG_MULTI_SZ: the NT path, then the empty target that means "delete".
check "reg query lists its deletion at restart" grep -qF "\\??\\$parked\\0" <<<"$pending"

not_listed() { ! grep -qF "$1" <<<"$2"; }

# Windows carries the deletion out at the next boot (the session manager);
# Wine at the next start of the prefix, in wineboot.
tsl_wine_stop || true
wine cmd /c exit >/dev/null 2>&1
pending=$(wine reg query "$session_manager" /v PendingFileRenameOperations 2>&1 || true)
check "after a restart the deletion is no longer pending" \
  not_listed "$parked" "$pending"
check "after a restart the moved program is gone" test -n "$parked_unix" -a ! -e "$parked_unix"
run_gtest tree-contract wine "$build/tests/contract_tests.exe" --gtest_filter='TreeContract*'
summary
