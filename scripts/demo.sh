#!/bin/bash
# Builds Hearthkit and runs the diagnostic tool's demo under Wine: an
# embedded environment of stand-ins (MAPI with a mailbox profile, the archive
# web server, the resource module) and a tour of every subsystem through it.
# The demo registers the MAPI stand-in and sets the log level, so it runs in
# a Wine prefix of its own, never in the tests' prefix (build/wineprefix).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default --target hkdiag
prefix="$PWD/build/demo-prefix"
status=0
env HK_BUILD_DIR="$PWD/build" HK_WINEPREFIX="$prefix" WINEPREFIX= \
    cmake/wine-run.sh build/bin/hkdiag.exe demo "$@" || status=$?
# Leave nothing running: the web server ends with the demo; wait for the
# prefix's wine server to end too.
WINEPREFIX="$prefix" /usr/lib/wine/wineserver -w || true
echo "(C: of the demo's Wine prefix is $prefix/drive_c)"
exit $status
