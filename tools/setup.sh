#!/usr/bin/env bash
# Installs what building and testing need on Debian 12. Safe to run again; quick when
# everything is in place (it only asks apt when a package is missing).
#   setup.sh        for building and testing
#   setup.sh demo   also what the demonstration uses to take and drive screenshots
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake make python3
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64
  googletest
  wine64 xvfb
  dosbox nasm
)
if [ "${1:-}" = demo ]; then
  packages+=(imagemagick xdotool)
fi
# The shipped launcher is 32-bit: it runs under 32-bit Wine where the kernel can run 32-bit
# programs at all. Elsewhere its tests report themselves skipped.
if reason=$(bash tools/wine-session.sh why-no-32bit 2>/dev/null) || [[ $reason == *wine32* ]]; then
  packages+=(wine32:i386)
else
  echo "setup: no 32-bit Wine: $reason; the i686 tests will be skipped"
fi

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if [[ " ${missing[*]} " == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${missing[@]}" >/dev/null
