#!/bin/bash
# Runs render_wine_tests.exe under Wine in a private prefix, on its own Xvfb
# display (Wine's user32 needs an X server to create the painted window) with
# openbox as window manager (without one, Wine waits two seconds for every
# destroyed window to be withdrawn), after listing the executable's resources
# with wrestool as a cross-check.
# Usage: scripts/wine-render.sh [windows build folder [gtest arguments]];
# exits with the test's code. Stops everything it started.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/windows}
[ $# -gt 0 ] && shift
exe=$build/tests/render_wine_tests.exe

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
fi
ninja --quiet -C "$build" -j2 render_wine_tests

# The resources as a tool of its own reads them: icon group 101 (type 14),
# version (16) and manifest (24).
resources=$(wrestool -l "$exe")
echo "$resources"
for type in "--type=14 --name=101" "--type=16 --name=1" "--type=24 --name=1"; do
  if ! grep -q -- "$type " <<<"$resources"; then
    echo "missing resource: $type"
    exit 1
  fi
done

# Wine's variables and the prefix (made once) come from wine-env.sh; a
# WINEDEBUG of the caller's still wins over its default.
winedebug=${WINEDEBUG:--all}
# shellcheck source=scripts/wine-env.sh
. "$root/scripts/wine-env.sh" "${WINEPREFIX:-$root/build/wineprefix}"
export WINEDEBUG=$winedebug

cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  tsl_wine_wm_stop
  tsl_wine_display_stop || true
}
trap cleanup EXIT
tsl_wine_display_start || { echo "no X display"; exit 1; }
tsl_wine_wm_start || exit 1

set +e
wine "$exe" "$@"
code=$?
set -e
echo "render_wine_tests.exe exit code $code"
exit $code
