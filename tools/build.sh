#!/usr/bin/env bash
# Configures and builds both targets: the shipped i686 launcher and its x86_64 twin.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
for preset in i686 x86_64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
done
