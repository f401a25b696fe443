#!/usr/bin/env bash
# Configures (once) and builds the Windows build in build/windows with the
# MinGW-w64 toolchain: Ninja, MinSizeRel. Extra arguments are Ninja targets
# (default: everything).
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
