# Sourced by the scripts: runs a long step (installing packages, preparing
# Wine, building) with its output in a log, and shows how far it has got.
#
#   vantrel_progress LABEL LOG KIND COMMAND [ARGUMENT...]
#
# KIND says where the step's progress shows in its log:
#   apt    apt-get's status lines (give it -o APT::Status-Fd=2): the share
#          downloaded or installed, and what it is doing;
#   ninja  the last "[n/N] ..." line of a build (cmake --build);
#   lines  the last line of the log.
# On a terminal one line is redrawn every second; anywhere else (a pipe, a
# CI log) a plain line is printed every 10 seconds. Either way the step's
# time is shown, and its end is a line of its own. When the step fails, the
# end of the log is shown, and the step's status returned.

vantrel_progress_elapsed() {
    printf '%d:%02d' $(($1 / 60)) $(($1 % 60))
}

# The latest progress in the log, as one short line.
vantrel_progress_status() {
    local log=$1 kind=$2 line status
    line=$(tail -n 1 "$log")
    # dpkg ends its lines with CR LF and redraws "(Reading database ... 5%"
    # after a bare CR: what a terminal would show is the text after the last.
    line=${line%$'\r'}
    line=${line##*$'\r'}
    case $kind in
    apt)
        # The share done comes from apt's latest status line
        # (pmstatus:PACKAGE:PERCENT:WHAT or dlstatus:N:PERCENT:WHAT, maybe
        # after an unfinished line of dpkg's), what is going on from the last
        # line, such as dpkg's "Processing triggers for ...".
        status=$(tail -n 50 "$log" | grep -o '\(pm\|dl\)status:.*' | tail -n 1)
        if [[ $status =~ ^(pm|dl)status:.*:([0-9]+)(\.[0-9]*)?:(.*)$ ]]; then
            [[ $line == *status:* ]] && line=${BASH_REMATCH[4]}
            [[ ${BASH_REMATCH[1]} == dl ]] && line="downloading: $line"
            line="${BASH_REMATCH[2]}% $line"
        fi
        ;;
    ninja)
        status=$(tail -n 50 "$log" | grep '^\[[0-9]*/[0-9]*\]' | tail -n 1)
        [[ -z $status ]] || line=$status
        ;;
    esac
    line=${line//[[:cntrl:]]/ }
    printf '%s' "${line:0:100}"
}

# Redraws or prints the progress line until stopped, or until the shell
# OWNER has gone (interrupted, say).
vantrel_progress_watch() {
    local label=$1 log=$2 kind=$3 terminal=$4 owner=$5
    local start=$SECONDS said=$SECONDS line elapsed width
    while kill -0 "$owner" 2>/dev/null; do
        sleep 1
        elapsed=$(vantrel_progress_elapsed $((SECONDS - start)))
        if $terminal; then
            width=$(tput cols 2>/dev/null || echo 80)
            line="$label [$elapsed] $(vantrel_progress_status "$log" "$kind")"
            # Cut to the width of the terminal, so the line never wraps.
            printf '\r\033[K%s' "${line:0:width-1}"
        elif ((SECONDS - said >= 10)); then
            said=$SECONDS
            echo "$label [$elapsed] $(vantrel_progress_status "$log" "$kind")"
        fi
    done
}

vantrel_progress() {
    local label=$1 log=$2 kind=$3
    shift 3
    local terminal=false start=$SECONDS status=0 watcher elapsed
    [[ -t 1 ]] && terminal=true
    mkdir -p "$(dirname "$log")"
    : >"$log"
    $terminal || echo "$label (log: $log)"
    # The step runs in the foreground, so Ctrl-C reaches it as usual; the
    # progress is shown beside it.
    vantrel_progress_watch "$label" "$log" "$kind" "$terminal" "$BASHPID" &
    watcher=$!
    "$@" >"$log" 2>&1 || status=$?
    kill "$watcher" 2>/dev/null || true
    wait "$watcher" 2>/dev/null || true
    $terminal && printf '\r\033[K'
    elapsed=$(vantrel_progress_elapsed $((SECONDS - start)))
    if ((status != 0)); then
        tail -n 40 "$log" >&2
        echo "$label: failed after $elapsed (status $status); the whole log is $log" >&2
        return "$status"
    fi
    echo "$label: done in $elapsed (log: $log)"
}
