#!/bin/sh
# Prepares a Wine prefix so that a MAPI loader finds the MAPI stand-in:
# HKLM "Software\Clients\Mail\Microsoft Outlook" "DLLPathEx" = the DLL's
# Windows path, in the 64-bit view.
#   prepare-wineprefix.sh [path/to/MapiStandin.dll]
# WINEPREFIX names the prefix (default ~/.wine); WINE the wine64 binary.
set -eu
dll=${1:-$(dirname -- "$0")/MapiStandin.dll}
[ -f "$dll" ] || { echo "no such DLL: $dll" >&2; exit 1; }
wine=${WINE:-/usr/lib/wine/wine64}
export WINEDEBUG=${WINEDEBUG:--all}
winpath=$("$wine" winepath -w "$(cd "$(dirname -- "$dll")" && pwd)/$(basename -- "$dll")" 2>/dev/null)
"$wine" reg add 'HKLM\Software\Clients\Mail\Microsoft Outlook' /v DLLPathEx /t REG_SZ /d "$winpath" /f /reg:64 >/dev/null
printf 'DLLPathEx = %s\n' "$winpath"
