#!/bin/bash
# Builds Hearthkit and runs the diagnostic tool's demo tour under Wine, with
# traced operations and the log's timeline. The demo sets the log level in
# the user's registry, so it runs in a Wine prefix of its own, never in the
# tests' prefix (build/wineprefix).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default
cmake --build --preset default --target hkdiag
env HK_BUILD_DIR="$PWD/build" HK_WINEPREFIX="$PWD/build/demo-prefix" WINEPREFIX= \
    cmake/wine-run.sh build/bin/hkdiag.exe demo --trace "$@"
echo "(C: of the demo's Wine prefix is $PWD/build/demo-prefix/drive_c)"
