#!/usr/bin/env bash
# Vantrel.exe started with no display to show its dialog on must end with
# status 1, not 0 as if the user had closed the dialog. It runs in a Wine
# prefix of its own (made on first use), so that no wineserver started with a
# display serves it.
# Arguments: the Wine loader, the program, the prefix.
set -euo pipefail
wine=$1 program=$2
export WINEPREFIX=$3
unset DISPLAY WAYLAND_DISPLAY
status=0
timeout 300 "$wine" "$program" >"$WINEPREFIX.log" 2>&1 || status=$?
if ((status != 1)); then
    echo "FAIL: with no display, Vantrel.exe ended with status $status; expected 1. Wine said:"
    sed 's/^/  /' "$WINEPREFIX.log"
    exit 1
fi
echo "with no display, Vantrel.exe ended with status 1"
