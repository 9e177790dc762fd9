#!/usr/bin/env bash
# Makes a release: the shipped 32-bit launcher built from a clean export of a commit (HEAD by
# default), with nothing of the working tree or an earlier build in it, and the files a user
# downloads in one folder: PBLaunch.exe and SHA256SUMS.
#   tools/release.sh [COMMIT [FOLDER]]     (FOLDER defaults to build/release)
# The build is reproducible: the same commit gives the same bytes on any machine set up by
# `tools/setup.sh release`, so anyone can rebuild a commit this way and compare the checksum.
set -euo pipefail
cd "$(dirname "$0")/.."
commit=$(git rev-parse --verify "${1:-HEAD}^{commit}")
out=${2:-build/release}
# Only the cross compiler and the build tools: a release needs neither Wine nor DOSBox.
bash tools/setup.sh release

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/source"
git archive "$commit" | tar -x -C "$work/source"
# The image's time stamp is the commit's time, which an export no longer knows by itself.
cmake -S "$work/source" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$work/source/cmake/toolchain-i686.cmake" \
  -DCMAKE_BUILD_TYPE=MinSizeRel -DBUILD_TESTING=OFF \
  -DLAUNCHER_EPOCH="$(git log -1 --format=%ct "$commit")" >/dev/null
cmake --build "$work/build" --target launcher -j"$(nproc)" >/dev/null

rm -rf "$out"
mkdir -p "$out"
cp "$work/build/bin/PBLaunch.exe" "$out/"
(cd "$out" && sha256sum PBLaunch.exe >SHA256SUMS)
echo "Release of commit $commit in $out/:"
echo "  PBLaunch.exe ($(stat -c %s "$out/PBLaunch.exe") bytes)"
echo "  SHA256SUMS: $(cut -d' ' -f1 "$out/SHA256SUMS")"
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "  (built from the commit; the working tree's uncommitted changes are not in it)"
fi
