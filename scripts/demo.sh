#!/bin/bash
# Builds Hearthkit and runs the diagnostic tool's demo tour under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default
cmake --build --preset default --target hkdiag
exec env HK_BUILD_DIR="$PWD/build" cmake/wine-run.sh build/bin/hkdiag.exe demo "$@"
