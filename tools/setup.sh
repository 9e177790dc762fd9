#!/usr/bin/env bash
# Installs what building and testing need on Debian 12. Safe to run again; quick when
# everything is in place (it only asks apt when a package is missing).
#   setup.sh        for building and testing
#   setup.sh demo   also what the demonstration uses to take and drive screenshots
set -euo pipefail

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
$sudo apt-get update -qq
# wine32 is never wanted: this kernel cannot run 32-bit Linux programs.
$sudo apt-get install -y -qq "${missing[@]}" >/dev/null
