#!/usr/bin/env bash
# The whole test suite on a fresh or warm machine: installs what is missing, builds both
# targets (the i686 build must compile warning-free too) and runs the x86_64 tests under wine64.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
bash tools/build.sh
ctest --preset x86_64
