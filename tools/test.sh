#!/usr/bin/env bash
# The whole test suite on a fresh or warm machine: installs what is missing, builds both
# targets warning-free, and runs the tests of each: the x86_64 twin's under wine64, the shipped
# i686 build's under 32-bit Wine (reported skipped where the machine cannot run 32-bit programs).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
bash tools/build.sh
ctest --preset x86_64
reason=$(bash tools/wine-session.sh why-no-32bit) || echo "test: the i686 tests report themselves skipped: $reason"
ctest --preset i686
