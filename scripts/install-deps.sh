#!/bin/bash
# Installs what the build and the tests need on Debian 12; quiet and
# idempotent (skips apt entirely when everything is already there).
set -euo pipefail

packages=(
  git cmake ninja-build g++ googletest python3 openssl iproute2 util-linux curl procps
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 xvfb openbox wmctrl xdotool imagemagick liblnk-utils nginx
  librsvg2-bin icoutils x11-utils
  osslsigncode softhsm2 libengine-pkcs11-openssl opensc
  shellcheck python3-matplotlib
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
$sudo apt-get update -q >/dev/null
$sudo apt-get install -y -q "${missing[@]}" >/dev/null
