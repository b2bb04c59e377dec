#!/usr/bin/env bash
# Vantrel.exe started with no display to show its dialog on must end with
# status 1, not 0 as if the user had closed the dialog. It runs in a Wine
# prefix of its own, so that no wineserver started with a display serves it.
# The prefix (over a gigabyte for 64-bit Wine) is made for the run and
# removed when the script ends, however it ends; one that a killed run left
# behind is removed first.
# Arguments: the Wine loader, the program, the prefix.
set -euo pipefail
if (($# != 3)) || [[ -z $3 ]]; then
    echo "usage: $0 WINE PROGRAM PREFIX (got $# arguments)" >&2
    exit 2
fi
wine=$1 program=$2
export WINEPREFIX=$3
log=$WINEPREFIX.log
unset DISPLAY WAYLAND_DISPLAY

# Wine's processes in the prefix are ended first: the server writes the
# registry into it as it goes.
remove_prefix() {
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    rm -rf "$WINEPREFIX"
}
remove_prefix
trap remove_prefix EXIT

# Wine ends with status 1 itself when it cannot make or use the prefix, so
# first a program whose status is known shows that the prefix works (and
# makes it).
status=0
timeout 240 "$wine" cmd /c exit 3 >"$log" 2>&1 || status=$?
if ((status != 3)); then
    echo "FAIL: Wine cannot run programs in $WINEPREFIX: 'cmd /c exit 3' ended with status $status. Wine said:"
    sed 's/^/  /' "$log"
    exit 1
fi
status=0
timeout 240 "$wine" "$program" >>"$log" 2>&1 || status=$?
if ((status != 1)); then
    echo "FAIL: with no display, Vantrel.exe ended with status $status; expected 1. Wine said:"
    sed 's/^/  /' "$log"
    exit 1
fi
echo "with no display, Vantrel.exe ended with status 1"
