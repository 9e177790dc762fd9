#!/usr/bin/env bash
# The main job: installs what is missing, builds the shipped i686 launcher and its x86_64 twin,
# and runs the whole system once on a simulated user's machine (tools/demo.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh demo
bash tools/build.sh >/dev/null
echo "The shipped launcher: build/i686/bin/PBLaunch.exe ($(stat -c %s build/i686/bin/PBLaunch.exe) bytes)"
echo
bash tools/demo.sh
