#!/bin/sh
# Prepares, keeps up and stops the Wine prefix that tests and tools run in.
#   wine-prefix.sh ensure   create the prefix once (null display driver)
#   wine-prefix.sh up       ensure, then keep the wine server running
#   wine-prefix.sh down     stop the wine server of the prefix
set -e
: "${WINEPREFIX:?WINEPREFIX must name the prefix}"
export WINEPREFIX
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
wine=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver

ensure() {
    [ -f "$WINEPREFIX/.hk-ready" ] && return 0
    mkdir -p "$WINEPREFIX"
    # Several test programs may start at once on a fresh prefix: one creates it.
    exec 9>"$WINEPREFIX.lock"
    flock 9
    if [ ! -f "$WINEPREFIX/.hk-ready" ]; then
        $wine wineboot -i >/dev/null 2>&1 || true
        # Without a display Wine creates windows only with the null driver.
        if [ -z "$HK_WINE_DISPLAY" ]; then
            $wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f >/dev/null 2>&1
        fi
        # A crashing test program must end, not wait in the debugger.
        # (Wine starts winedbg unless the debugger named cannot be started.)
        $wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ /d no-debugger.exe /f >/dev/null 2>&1 || true
        $server -w
        touch "$WINEPREFIX/.hk-ready"
    fi
    flock -u 9
}

case "$1" in
    ensure) ensure ;;
    # The server must not hold the caller's output open (CTest waits for it).
    # Wine's system processes (services, devices) start with the first program
    # of a server's life and inherit its output: start them here, detached, so
    # that they never hold a test program's output open.
    up) ensure
        $server -p </dev/null >/dev/null 2>&1 || true
        $wine wineboot </dev/null >/dev/null 2>&1 || true ;;
    down) $server -k 2>/dev/null || true ;;
    *) echo "usage: $0 ensure|up|down" >&2; exit 2 ;;
esac
