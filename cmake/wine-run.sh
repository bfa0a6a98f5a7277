#!/bin/sh
# Runs a cross-compiled program under Wine in the build tree's own prefix.
# HK_WINEPREFIX overrides the prefix (tests that need a prefix of their own).
here=$(CDPATH= cd -- "$(dirname -- "$0")" && pwd)
: "${HK_BUILD_DIR:=$(dirname "$here")/build}"
if [ -z "$WINEPREFIX" ]; then
    WINEPREFIX=${HK_WINEPREFIX:-$HK_BUILD_DIR/wineprefix}
fi
export WINEPREFIX
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
"$here/wine-prefix.sh" ensure >/dev/null || exit 1
exec /usr/lib/wine/wine64 "$@"
