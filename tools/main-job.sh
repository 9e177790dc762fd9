#!/usr/bin/env bash
# The main job: installs what is missing and builds the launcher pieces for both targets.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
bash tools/build.sh
echo
echo "Built the i686 (shipped) and x86_64 (tested) libraries:"
ls -l build/i686/launch/liblaunch.a build/i686/platform/libplatform.a
