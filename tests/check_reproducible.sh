#!/usr/bin/env bash
# The same sources build the same bytes: a second build of the i686 launcher in another folder,
# with the shipped image's time stamp, must equal the shipped one.
set -euo pipefail
root=$1
shipped=$2
pe=$(od -An -tu4 -j60 -N4 "$shipped")
stamp=$(od -An -tu4 -j$((pe + 8)) -N4 "$shipped" | tr -d ' ')
second=$(mktemp -d)
trap 'rm -rf "$second"' EXIT
cmake -S "$root" -B "$second" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686.cmake" \
  -DCMAKE_BUILD_TYPE=MinSizeRel -DBUILD_TESTING=OFF -DLAUNCHER_EPOCH="$stamp" >/dev/null
cmake --build "$second" --target launcher -j2 >/dev/null
if cmp "$shipped" "$second/bin/PBLaunch.exe"; then
  echo "1 passed, 0 failed"
else
  echo "0 passed, 1 failed: a second build differs from $shipped"
  exit 1
fi
