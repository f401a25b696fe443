#!/usr/bin/env bash
# Configures (once) and builds the Windows build in build/windows with the
# MinGW-w64 toolchain: Ninja, MinSizeRel. Extra arguments are Ninja targets
# (default: everything). The toolchain's versions go to
# build/windows/toolchain-versions.txt.
#   scripts/build-windows.sh [target...]
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$repo/build/windows"

# Re-running cmake on an existing build only refreshes it, so this is
# idempotent; the cache keeps the toolchain and build type of the first run.
cmake -S "$repo" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
ninja -C "$build" "$@"

# What made these bytes: a second build with the same versions gives the
# same TessalineSetup.exe (scripts/repro-check.sh).
{
  x86_64-w64-mingw32-g++-posix --version | head -1
  x86_64-w64-mingw32-ld --version | head -1
  x86_64-w64-mingw32-windres --version | head -1
  cmake --version | head -1
  echo "ninja $(ninja --version)"
  dpkg-query -W -f '${Package} ${Version}\n' g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
    mingw-w64-x86-64-dev 2>/dev/null
} >"$build/toolchain-versions.txt"
