#!/bin/sh
# Runs a test program under Wine with a display of its own: Xvfb on a free
# display number, in a Wine prefix of its own whose display driver is X11
# (the other tests' prefix has the null driver). Xvfb and the prefix's wine
# server are stopped on every way out.
#   with-xvfb.sh PREFIX PROGRAM [ARGS...]
# Without Xvfb or xdotool the program runs without a display: its tests skip.
set -u
prefix=$1
shift
here=$(CDPATH= cd -- "$(dirname -- "$0")" && pwd)
wine_run=$here/../../cmake/wine-run.sh
prefix_script=$here/../../cmake/wine-prefix.sh
export WINEPREFIX=$prefix HK_WINEPREFIX=$prefix HK_WINE_DISPLAY=x11

if ! command -v Xvfb >/dev/null 2>&1 || ! command -v xdotool >/dev/null 2>&1; then
    HK_XVFB_DISPLAY= exec "$wine_run" "$@"
fi

fifo=$(mktemp -u)
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" </dev/null >/dev/null 2>&1 &
xvfb=$!
stop() {
    "$prefix_script" down >/dev/null 2>&1
    kill "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
    rm -f "$fifo"
}
trap stop EXIT
trap 'exit 130' INT TERM
display=$(timeout 10 head -n 1 "$fifo")
if [ -z "$display" ]; then
    echo "with-xvfb.sh: Xvfb did not start within 10 s" >&2
    exit 1
fi
export DISPLAY=:$display HK_XVFB_DISPLAY=:$display
"$prefix_script" up || exit 1
"$wine_run" "$@"
