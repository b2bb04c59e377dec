# Sourced by the scripts: runs a long step (installing packages, preparing
# Wine, building) with its output in a log, and shows how far it has got.
#
#   vantrel_progress LABEL LOG KIND COMMAND [ARGUMENT...]
#
# KIND says where the step's progress shows in its log:
#   apt    apt-get's status lines (give it -o APT::Status-Fd=2): the share
#          downloaded or installed, and what it is doing;
#   ninja  the last "[n/N] ..." line of a build (cmake --build);
#   ctest  ctest's own lines: how many tests are done and which are running;
#   lines  the last line of the log.
# On a terminal one line is redrawn every second; anywhere else (a pipe, a
# CI log) a plain line is printed every 10 seconds. Either way the step's
# time is shown, and its end is a line of its own. When the step fails, the
# end of the log is shown (for ctest, what the failed tests printed and the
# summary), and the step's status returned.

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
    ctest)
        # "Start 12: NAME" when a test starts, "3/40 Test #12: NAME ...
        # Passed" when it ends: the tests started and not ended are running.
        status=$(awk '
            /^ *Start +[0-9]+: / { sub(/^ *Start +[0-9]+: /, ""); running[$0] = 1; next }
            /^ *[0-9]+\/[0-9]+ +Test +#[0-9]+: / { done = $1; delete running[$4] }
            END {
                for (name in running) names = names (names == "" ? "" : ", ") name
                if (done != "") printf "%s done", done
                if (names != "") printf "%srunning %s", (done == "" ? "" : "; "), names
            }' "$log")
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
    # SIGKILL: a subshell that bash ends with SIGTERM while it waits for a
    # command (sleep) runs the script's EXIT trap first.
    kill -KILL "$watcher" 2>/dev/null || true
    wait "$watcher" 2>/dev/null || true
    $terminal && printf '\r\033[K'
    elapsed=$(vantrel_progress_elapsed $((SECONDS - start)))
    if ((status != 0)); then
        if [[ $kind == ctest ]]; then
            grep -vE '^ *Start +[0-9]+: |^ *[0-9]+/[0-9]+ +Test +#[0-9]+: .* Passed ' "$log" |
                tail -n 200 >&2
        else
            tail -n 40 "$log" >&2
        fi
        echo "$label: failed after $elapsed (status $status); the whole log is $log" >&2
        return "$status"
    fi
    local summary=
    [[ $kind == ctest ]] && summary=$(grep -m 1 -o '[0-9]*% tests passed.*' "$log" | sed 's/^/, /')
    echo "$label: done in $elapsed$summary (log: $log)"
}
