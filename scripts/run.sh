#!/usr/bin/env bash
# Sets up, builds and runs Vantrel.
#
# On Debian 12 (as root or with sudo): installs what is missing, builds the
# windows preset, then
#   - with a usable display, runs Vantrel.exe under Wine until you close it,
#     and exits with its status;
#   - with no display (over SSH, in a container), shows one conversion on a
#     virtual display instead: the helper vantrel_demo types a command and
#     presses Enter, the text of both boxes is printed, a screenshot of the
#     dialog is saved as build/screenshot.png, and the dialog is closed with
#     Escape. Exits 0 if all of that worked.
# The long steps (installing packages, preparing Wine, building) show their
# progress as they go (scripts/progress.sh), their output in logs in build/.
# On Windows (Git Bash, MSYS2, Cygwin) it starts the built Vantrel.exe.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS

exe=build/windows/Vantrel.exe
demo_command="set Mode 1"
screenshot=build/screenshot.png

case $(uname -s) in
MINGW* | MSYS* | CYGWIN*)
    if [[ ! -f $exe ]]; then
        echo "run: $exe is not built; build it on Debian 12 with scripts/run.sh" >&2
        exit 1
    fi
    exec "./$exe"
    ;;
esac

scripts/setup.sh
source scripts/wine-env.sh
source scripts/progress.sh
trap vantrel_stop_display EXIT
# Starts a virtual display only when there is no usable one.
vantrel_start_display
if [[ -z ${VANTREL_XVFB_PID:-} ]]; then
    export WINEPREFIX="$PWD/build/wineprefix-desktop"
fi
vantrel_prepare_wine

# The first build compiles the dialog, its framework, GoogleTest and the
# tests: a few minutes on two cores; later builds only what changed.
build_windows() { cmake --preset windows && cmake --build --preset windows; }
vantrel_progress "run: building the windows preset" build/run-build.log ninja build_windows

if [[ -z ${VANTREL_XVFB_PID:-} ]]; then
    echo "run: ready after $(vantrel_progress_elapsed $((SECONDS - started)))"
    echo "run: starting Vantrel on display $DISPLAY; DONE, Escape or the close box ends it"
    status=0
    wine "$exe" || status=$?
    echo "run: Vantrel ended with status $status"
    exit "$status"
fi

# No display of our own: the demonstration on the virtual display.
echo "run: no display here, so Vantrel shows one conversion on a virtual display ($DISPLAY)"
demo=build/windows/demo/vantrel_demo.exe
exe_for_wine=$(winepath -w "$PWD/$exe")
rm -f "$screenshot"

coproc DEMO { wine "$demo" "$exe_for_wine" "$demo_command" 2>&1; }
demo_pid=$DEMO_PID
exec {from_demo}<&"${DEMO[0]}" {to_demo}>&"${DEMO[1]}"

screenshot_saved=false
take_screenshot() {
    local geometry=$1
    if import -window root ${geometry:+-crop "$geometry" +repage} "$screenshot"; then
        screenshot_saved=true
        echo "run: screenshot of the dialog saved as $PWD/$screenshot"
    else
        echo "run: could not take the screenshot" >&2
    fi
}

# The helper prints a line for every step; each must come within two
# minutes, or the demonstration is given up.
geometry=
while true; do
    read_status=0
    IFS= read -r -t 120 -u "$from_demo" line || read_status=$?
    if ((read_status > 128)); then
        echo "run: the demonstration stopped answering; ending it" >&2
        kill "$demo_pid" 2>/dev/null || true
        break
    fi
    ((read_status == 0)) || break
    echo "  $line"
    case $line in
    "dialog rect: "*) geometry=${line#dialog rect: } ;;
    *"ready for the screenshot"*)
        take_screenshot "$geometry"
        echo close >&"$to_demo" || true
        ;;
    esac
done
demo_status=0
wait "$demo_pid" || demo_status=$?
exec {from_demo}<&- {to_demo}>&-

if ((demo_status != 0)) || ! $screenshot_saved; then
    echo "run: the demonstration failed (helper status $demo_status)" >&2
    exit 1
fi
echo "run: done in $(vantrel_progress_elapsed $((SECONDS - started)))"
