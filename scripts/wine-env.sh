# Sourced by the scripts: the Wine prefix and display that the Windows build
# runs in. The same values are in the windows test preset of
# CMakePresets.json, so ctest --preset windows finds the same prefix.
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$repo_root/scripts/progress.sh"
# The prefix for virtual displays; scripts/run.sh on a real desktop uses a
# prefix of its own (build/wineprefix-desktop), where the desktop's window
# manager looks after the dialog.
export WINEPREFIX="$repo_root/build/wineprefix"
export WINEARCH=win32
export WINEDEBUG=-all
# No Mono or Gecko: their installers would prompt during prefix creation.
export WINEDLLOVERRIDES="mscoree,mshtml="

# Switches to the Wine prefix for 32-bit programs (the default above) or for
# 64-bit ones, as in the windows and windows64 test presets. Each needs its
# own: a 32-bit prefix cannot start a 64-bit program ("Bad EXE format").
# VANTREL_WINE is the loader for that prefix's programs: Debian's wine64 has
# no command of its own in PATH.
vantrel_use_wine() {
    case $1 in
    32)
        export WINEPREFIX="$repo_root/build/wineprefix" WINEARCH=win32
        VANTREL_WINE=wine
        ;;
    64)
        export WINEPREFIX="$repo_root/build/wineprefix64" WINEARCH=win64
        VANTREL_WINE=$(command -v wine64 || echo /usr/lib/wine/wine64)
        ;;
    *) echo "vantrel_use_wine: 32 or 64, not '$1'" >&2 && return 1 ;;
    esac
}

# Starts Xvfb on a free display unless a usable display is already set (or
# with "own", always). Xvfb picks the display itself (-displayfd): it passes
# over every number whose sockets are taken, the abstract ones that a chroot
# shares with the host and other chroots included. Its output goes to
# build/xvfb.log, shown if it dies. The Wine prefix is vantrel_prepare_wine's
# job.
vantrel_start_display() {
    if [[ ${1:-} != own && -n ${DISPLAY:-} ]] && xdpyinfo >/dev/null 2>&1; then
        return 0
    fi
    VANTREL_XVFB_LOG=$repo_root/build/xvfb.log
    mkdir -p "$repo_root/build"
    local number
    number=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$number" >"$VANTREL_XVFB_LOG" 2>&1 &
    VANTREL_XVFB_PID=$!
    VANTREL_XVFB_OWNER=$BASHPID
    # The number is written once the server listens.
    local i
    for i in $(seq 1 100); do
        [[ -s $number ]] && break
        kill -0 "$VANTREL_XVFB_PID" 2>/dev/null || break
        sleep 0.1
    done
    export DISPLAY=":$(head -n 1 "$number")"
    rm -f "$number"
    if [[ $DISPLAY == : ]] || ! vantrel_check_display; then
        echo "could not start Xvfb" >&2
        vantrel_stop_display
        return 1
    fi
}

# Checks that the display in DISPLAY is still the one vantrel_start_display
# started: its Xvfb is running, holds the socket that clients reach first
# (the abstract one), and answers. A display that was already set is only
# asked to answer. When the Xvfb has died, its output is shown.
vantrel_check_display() {
    if [[ -z ${VANTREL_XVFB_PID:-} ]]; then
        xdpyinfo >/dev/null 2>&1 && return 0
        echo "display $DISPLAY does not answer" >&2
        return 1
    fi
    if ! kill -0 "$VANTREL_XVFB_PID" 2>/dev/null; then
        echo "Xvfb (process $VANTREL_XVFB_PID, display $DISPLAY) has died; its output:" >&2
        sed 's/^/  /' "$VANTREL_XVFB_LOG" >&2
        return 1
    fi
    # The socket's inode in the kernel's table against the Xvfb's descriptors.
    local inode
    inode=$(awk -v name="@/tmp/.X11-unix/X${DISPLAY#:}" '$8 == name { print $7 }' /proc/net/unix)
    if [[ -z $inode ]] || ! find "/proc/$VANTREL_XVFB_PID/fd" -lname "socket:\[$inode\]" |
        grep -q .; then
        echo "display $DISPLAY is not served by this run's Xvfb (process $VANTREL_XVFB_PID)" >&2
        return 1
    fi
    xdpyinfo >/dev/null 2>&1 && return 0
    echo "display $DISPLAY (Xvfb, process $VANTREL_XVFB_PID) does not answer" >&2
    return 1
}

# Stops the virtual display started above, if any. Wine's own processes on
# it end a few seconds after the last program; the display is stopped after
# them, so none of them dies complaining that its display went away. Only
# the shell that started it stops it: a subshell that runs the EXIT trap
# (bash runs it in a background subshell killed while it waits for a
# command) leaves it alone.
vantrel_stop_display() {
    if [[ -n ${VANTREL_XVFB_PID:-} && $BASHPID == "${VANTREL_XVFB_OWNER:-}" ]]; then
        local prefix
        for prefix in "$repo_root/build/wineprefix" "$repo_root/build/wineprefix64"; do
            [[ -d $prefix ]] && { WINEPREFIX=$prefix timeout 20 wineserver -w || true; }
        done
        kill "$VANTREL_XVFB_PID" 2>/dev/null || true
        wait "$VANTREL_XVFB_PID" 2>/dev/null || true
        unset VANTREL_XVFB_PID
    fi
}

# Makes the Wine prefix in WINEPREFIX.
vantrel_make_prefix() {
    mkdir -p "$(dirname "$WINEPREFIX")"
    wineboot -i &&
        # The virtual display runs no window manager. Windows that Wine
        # leaves to a window manager wait for it (about two seconds) each
        # time one is hidden, so here Wine manages them itself.
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f &&
        # No audio driver: no MIDI devices and no sound-system noise, whatever the host has.
        wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d "" /f &&
        wineserver -w
}

# Prepares the Wine prefix, once: later calls find it ready.
vantrel_prepare_wine() {
    if [[ ! -f $WINEPREFIX/system.reg ]]; then
        # Half a minute or so on two cores, once for each prefix.
        vantrel_progress "wine: preparing the prefix $WINEPREFIX" "$WINEPREFIX-setup.log" lines \
            vantrel_make_prefix || return
    fi
    # Wine's symbol font, which draws the caption buttons (without it the
    # close box shows as the letter "r"). Only this one font: Wine's Tahoma
    # would clip the dialog's labels.
    local fonts=$WINEPREFIX/drive_c/windows/Fonts
    if [[ ! -f $fonts/marlett.ttf ]]; then
        mkdir -p "$fonts" && cp /usr/share/wine/fonts/marlett.ttf "$fonts/"
    fi
}
