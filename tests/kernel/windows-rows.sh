#!/bin/bash
# The Windows rows of the kernel test, run inside the test machine, chrooted
# into the host's root (tests/kernel/windows.sh): the Windows build of
# vantrel-convert under Wine, whose ALSA MIDI driver makes WinMM devices of
# snd-virmidi's sequencer ports. Each row writes into a folder of its own under
# RESULTS: the tool's stdout, stderr and status, and what the raw side read.
#
#   windows-rows.sh LOADER PREFIX EXE WORK RESULTS
#
# WORK holds rawmidi_reader and the data (commands.txt, sent.syx: what the
# tool sends for them, messages.syx, sysex-64k.syx). Every start of Wine here takes tens of seconds, so each row
# is one start; a persistent wineserver keeps the prefix's services up
# between them. Waits are conditions with deadlines.
set -u
loader=$1 work=$4 results=$5
export WINEPREFIX=$2 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Run from the 9p share, the program faults before main (its pages read as
# zeros); a copy on tmpfs runs.
exe=/tmp/vantrel-convert.exe
cp "$3" "$exe"
started=$EPOCHREALTIME

# Notes a time in RESULTS/times: WHAT.
note() { echo "$1 at $(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }') s" >>"$results/times"; }

# Runs COMMAND until it succeeds, every tenth of a second, for at most
# SECONDS: SECONDS COMMAND...
await() {
    local until=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < until)) || return 1
        sleep 0.1
    done
}

# Whether process PID has ended.
ended() { ! kill -0 "$1" 2>/dev/null; }

# Starts the tool in the background in row folder ROW ($tool is its process),
# its standard input the file $input or nothing: ROW ARGUMENT... Its output
# goes to files: Wine gives pipes to its programs slowly.
start_tool() {
    mkdir -p "$results/$1"
    (cd "$results/$1" && shift && exec "$loader" "$exe" "$@" <"${input:-/dev/null}" >stdout 2>stderr) &
    tool=$!
}

# Waits for the tool of ROW, at most SECONDS, then interrupts it; its exit
# status goes to ROW/status: ROW SECONDS.
end_tool() {
    await "$2" ended "$tool" || {
        echo "still running after $2 s: interrupted" >>"$results/$1/log"
        kill -INT "$tool"
    }
    wait "$tool"
    echo $? >"$results/$1/status"
    note "$1 ended"
}

# Writes the messages of FILE to the raw device DEVICE, each in pieces of at
# most BYTES, at a cable's 3,125 bytes a second, or as fast as the device
# takes them with the rate "max": FILE DEVICE BYTES RATE. Bash's own builtins
# do it all, with no process started on the way (each start takes tens of
# milliseconds on TCG); so FILE holds no byte 00.
write_paced() {
    local LC_ALL=C messages message at piece sent=0 start now due pause sleeper
    mapfile -d $'\xf7' -t messages <"$1"
    exec {sleeper}<> <(:)
    start=${EPOCHREALTIME/./}
    for message in "${messages[@]}"; do
        message+=$'\xf7'
        for ((at = 0; at < ${#message}; at += $3)); do
            piece=${message:at:$3}
            due=$((start + sent * 1000000 / 3125))
            now=${EPOCHREALTIME/./}
            if [[ $4 != max ]] && ((due > now)); then
                printf -v pause '%d.%06d' $(((due - now) / 1000000)) $(((due - now) % 1000000))
                read -r -t "$pause" -u "$sleeper" || true
            fi
            printf '%s' "$piece"
            sent=$((sent + ${#piece}))
        done
    done >"$2"
    exec {sleeper}<&-
}

# A receive from PORT, its raw side DEVICE written with FILE as write_paced
# does once the tool listens: ROW PORT DEVICE FILE BYTES RATE COUNT.
receive_row() {
    start_tool "$1" --receive "$2" --syx --count "$7" --timeout 10000
    if await 180 grep -qs 'listening to' "$results/$1/stderr"; then
        note "$1 listening"
        write_paced "$4" "$3" "$5" "$6"
        note "$1 written"
    else
        echo "the tool did not start listening" >>"$results/$1/log"
    fi
    end_tool "$1" 60
}

wineserver -p
note "wineserver started"

mkdir -p "$results/win_list"
(cd "$results/win_list" && "$loader" "$exe" --list-ports >stdout 2>stderr; echo $? >status)
note "win_list ended"

# The reader starts before the sender and is stopped when the sender ended and
# it has drained what the device holds.
mkdir -p "$results/win_send"
(cd "$results/win_send" && exec "$work/rawmidi_reader" /dev/snd/midiC0D0 bytes.bin 3125 \
    "$(stat -c %s "$work/sent.syx")" 600000 ready >reader.txt) &
reader=$!
await 10 test -e "$results/win_send/ready" || echo "rawmidi_reader did not start" >>"$results/win_send/log"
input=$work/commands.txt start_tool win_send --send 'VirMIDI 0-0'
end_tool win_send 180
await 10 ended "$reader" || kill "$reader"
wait "$reader"

receive_row win_receive_burst 'VirMIDI 0-1' /dev/snd/midiC0D1 "$work/messages.syx" 137 3125 100
# The same messages written at once: more than a cable carries, so the tool
# must have buffers queued for them all, or name what the driver dropped.
receive_row win_receive_at_once 'VirMIDI 0-1' /dev/snd/midiC0D1 "$work/messages.syx" 137 max 100
receive_row win_receive_64k 'VirMIDI 0-2' /dev/snd/midiC0D2 "$work/sysex-64k.syx" 512 3125 1

# Ctrl-C while the receive waits: the tool closes the device and ends.
start_tool win_interrupt --receive 'VirMIDI 0-3'
await 180 grep -qs 'listening to' "$results/win_interrupt/stderr" && kill -INT "$tool"
end_tool win_interrupt 30

wineserver -k
note "end"
touch "$results/end"
