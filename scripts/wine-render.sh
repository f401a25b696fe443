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

export WINEPREFIX=${WINEPREFIX:-$root/build/wineprefix}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEDEBUG=${WINEDEBUG:--all}

display=
for n in $(seq 90 199); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
    display=$n
    break
  fi
done
[ -n "$display" ] || { echo "no free X display number"; exit 1; }

Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
wm_pid=
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  for pid in $wm_pid $xvfb_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
}
trap cleanup EXIT
for _ in $(seq 50); do
  [ -e "/tmp/.X11-unix/X$display" ] && break
  sleep 0.1
done
export DISPLAY=":$display"
openbox >/dev/null 2>&1 &
wm_pid=$!

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi

set +e
wine "$exe" "$@"
code=$?
set -e
echo "render_wine_tests.exe exit code $code"
exit $code
