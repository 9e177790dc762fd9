#!/usr/bin/env bash
# The whole test suite on a fresh or warm machine: installs what is missing, builds both
# targets warning-free, and runs the tests of each: the x86_64 twin's under wine64, the shipped
# i686 build's under 32-bit Wine by the route this machine takes (WINE32_ROUTE=emulated takes
# the emulated one anywhere). Where 32-bit Wine cannot run a trivial program, every i686 test
# reports itself skipped, and this says why.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
bash tools/build.sh
ctest --preset x86_64
echo "test: the i686 tests run under 32-bit Wine, $(bash tools/wine-session.sh route) route"
status=0
ctest --preset i686 || status=$?
for health in build/i686/wine-session*/health32; do
  if [ -s "$health" ]; then echo "test: i686 tests in $(dirname "$health") skipped: $(cat "$health")"; fi
done
exit $status
