#!/bin/bash
# Runs the uninstall's tree removal and firewall clean-up for real under Wine:
# uninstall_wine_tests.exe under trace_collector.exe (which catches the
# OutputDebugString lines Wine does not print), then the tree contract tests.
# Builds the Windows targets first when needed. Uses a private Wine prefix
# (build/wine-prefix, or $TSL_WINEPREFIX), stops its wineserver at the end and
# leaves nothing outside the prefix and build/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build="$root/build/windows"

if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
fi
ninja -C "$build" -j2 uninstall_wine_tests trace_collector contract_tests >/dev/null

export WINEPREFIX="${TSL_WINEPREFIX:-$root/build/wine-prefix}"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
mkdir -p "$WINEPREFIX"
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "creating Wine prefix $WINEPREFIX" >&2
    env -u DISPLAY wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
) 9>"$WINEPREFIX/.tsl-wine-env.lock"

# A folder of the prefix's C: drive for this run, shown to Windows as C:\...
run_name="tsl-uninstall-run-$$"
run_dir="$WINEPREFIX/drive_c/$run_name"
run_win="C:\\$run_name"

cleanup() {
  rm -rf "$run_dir"
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}
trap cleanup EXIT

# Wine 8 cannot create junctions; its folder links are Unix symbolic links,
# which it reports with FILE_ATTRIBUTE_REPARSE_POINT. The test walks
# tree\ and must leave outside\ alone.
mkdir -p "$run_dir/links/tree" "$run_dir/links/outside"
echo own >"$run_dir/links/tree/own.txt"
echo keep >"$run_dir/links/outside/keep.txt"
ln -s ../outside "$run_dir/links/tree/link"

# Z: is Wine's view of the Unix root.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

status=0
wine "$build/tests/trace_collector.exe" "$run_win\\trace.log" \
  "$(windows_path "$build/tests/uninstall_wine_tests.exe")" \
  "--trace-file=$run_win\\trace.log" "--link-fixture=$run_win\\links" || status=1
echo "--- debug output caught by trace_collector:"
cat "$run_dir/trace.log" 2>/dev/null || true
echo "---"
if [ ! -e "$run_dir/links/outside/keep.txt" ]; then
  echo "FAILED: the walk went through the link into outside/" >&2
  status=1
fi

wine "$build/tests/contract_tests.exe" --gtest_filter='TreeContract*' || status=1
exit $status
