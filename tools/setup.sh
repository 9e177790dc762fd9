#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, and builds DOSBox 0.74-3 for Windows from
# Debian's sources (tools/windows-dosbox.sh, about 3 minutes the first time on a machine). Safe to
# run again; quick when everything is in place (it only asks apt when a package is missing, and
# the DOSBox build is cached outside the checkout).
#   setup.sh          for building and testing
#   setup.sh demo     also what the demonstration uses to take and drive screenshots
#   setup.sh release  only what building the shipped launcher needs: no Wine, no DOSBox
# What it changes on a machine: the Debian packages it installs (with the i386 architecture
# added to dpkg for 32-bit Wine, and apt's lists and package cache refreshed to install them),
# and the DOSBox cache folder (tools/windows-dosbox.sh). Nothing of apt's configuration.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-}
[[ "$mode" =~ ^(demo|release|)$ ]] || { echo "usage: setup.sh [demo|release]" >&2 && exit 2; }
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

# Earlier set-ups added this file to find DOSBox's sources; the build now looks them up in a
# private apt state of its own.
earlier=/etc/apt/sources.list.d/pb35-launcher-deb-src.sources
if [ -e "$earlier" ]; then
  echo "setup: removing $earlier, which an earlier set-up added; set-up no longer changes apt's configuration"
  $sudo rm -f "$earlier"
fi

# A release builds the shipped launcher only; testing and the demonstration run it under Wine.
packages=(cmake make nasm g++-mingw-w64-i686 binutils-mingw-w64)
i386=()
if [ "$mode" = demo ]; then
  packages+=(imagemagick xdotool x11-utils)
fi
# The shipped launcher is 32-bit and runs under Debian's 32-bit Wine: natively where the kernel
# itself runs 32-bit programs and 32-bit Wine works there, else under qemu-i386 (see
# tools/wine-session.sh), whose emulator and the compiler of its fixes are therefore installed
# everywhere. All without recommendations: the 32-bit X libraries come only as recommendations,
# so they are named (nothing in the set then has to run a 32-bit program while it is
# installed), and qemu-user's, qemu-user-binfmt, would register emulators with the kernel
# that nothing here needs.
if [ "$mode" != release ]; then
  packages+=(python3 g++-mingw-w64-x86-64 googletest wine64 xvfb)
  i386=(wine32:i386 libxrandr2:i386 libxrender1:i386 libxinerama1:i386 libxi6:i386
    libxcursor1:i386 libxcomposite1:i386 libxfixes3:i386 libxxf86vm1:i386 qemu-user gcc)
  route=$(bash tools/wine-session.sh route)
  echo "setup: 32-bit Wine takes the $route route$([ -n "${WINE32_ROUTE:-}" ] && echo ", as WINE32_ROUTE asks")"
fi

missing() {
  for package in "$@"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || echo "$package"
  done
}
mapfile -t missing64 < <(missing "${packages[@]}")
mapfile -t missing32 < <(missing "${i386[@]}")
if [ $((${#missing64[@]} + ${#missing32[@]})) -gt 0 ]; then
  all=("${missing64[@]}" "${missing32[@]}")
  echo "setup: installing ${all[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if [ ${#missing32[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -qq
  if [ ${#missing64[@]} -gt 0 ]; then $sudo apt-get install -y -qq "${missing64[@]}" >/dev/null; fi
  if [ ${#missing32[@]} -gt 0 ]; then
    $sudo apt-get install -y -qq --no-install-recommends "${missing32[@]}" >/dev/null
  fi
fi
[ "$mode" != release ] || exit 0
# A failed build stops set-up here, after the build's own message.
dosbox=$(bash tools/windows-dosbox.sh)
echo "setup: DOSBox 0.74-3 for Windows: $dosbox"
