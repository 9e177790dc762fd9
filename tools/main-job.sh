#!/usr/bin/env bash
# The main job: installs what is missing, builds the shipped i686 launcher and its x86_64 twin,
# runs the whole system once on a simulated user's machine (tools/demo.sh), and makes the
# release a user downloads (tools/release.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh demo
bash tools/build.sh >/dev/null
echo "The shipped launcher: build/i686/bin/PBLaunch.exe ($(stat -c %s build/i686/bin/PBLaunch.exe) bytes)"
echo
bash tools/demo.sh
echo
bash tools/release.sh
echo "What a user downloads is in build/release/; the README says how to check and use it."
