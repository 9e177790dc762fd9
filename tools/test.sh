#!/usr/bin/env bash
# The whole test suite on a fresh or warm machine: installs what is missing, builds both
# targets warning-free, and runs the tests of each: the x86_64 twin's under wine64, the shipped
# i686 build's under 32-bit Wine by the route this machine takes (WINE32_ROUTE=emulated takes
# the emulated one anywhere). Fails when any test fails or is skipped: set-up has just installed
# everything the tests need, so a skipped test means something broke; it says which and why.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
bash tools/build.sh

# Prints each test that CTest's JUnit file says did not run, with the end of its output, and
# fails when there is one.
report_skips() {
  python3 - "$1" <<'PY'
import sys
import xml.etree.ElementTree as tree

skipped = [case for case in tree.parse(sys.argv[1]).iter("testcase") if case.find("skipped") is not None]
for case in skipped:
    lines = (case.findtext("system-out") or case.find("skipped").get("message", "")).strip().splitlines()
    print(f"test: {case.get('name')} did not run:", *("  " + line for line in lines[-3:]), sep="\n")
sys.exit(1 if skipped else 0)
PY
}

status=0
for preset in x86_64 i686; do
  results=$PWD/build/$preset/Testing/results.xml
  rm -f "$results"
  ctest --preset "$preset" --output-junit "$results" || status=1
  if [ ! -s "$results" ]; then
    echo "test: ctest --preset $preset wrote no results"
    status=1
  elif ! report_skips "$results"; then
    status=1
  fi
done
session=build/i686/wine-session
if [ -s "$session/route" ] && [ ! -s "$session/health32" ]; then
  echo "test: the i686 tests ran under 32-bit Wine by the $(cat "$session/route") route"
fi
for failed in build/i686/wine-session*/native-failed; do
  if [ -s "$failed" ]; then echo "test: $(dirname "$failed") tried the native route first: $(cat "$failed")"; fi
done
exit $status
