# shellcheck shell=sh disable=SC2154 # run.sh sets $paced, $unpaced, $burst_bytes
# The scenarios that tests/kernel/run.sh runs inside the test machine (busybox
# sh, a real kernel with the ALSA sequencer, snd-virmidi and snd-seq-dummy).
#
# The machine's init runs every function named scenario_NAME here, in the
# order written, each in a directory of its own, /results/NAME, with its
# output (standard output and error) in the file "log" there. A scenario
# writes what it saw into files of that directory; run.sh brings them back and
# its function check_NAME judges them on the host. A new scenario is a pair:
# scenario_NAME here and check_NAME in run.sh.
#
# At hand: vantrel-convert and rawmidi_reader on PATH; from run.sh the send
# options $paced and $unpaced, and the files in /data (commands.txt: the 300
# commands of the bursts, $burst_bytes bytes of messages).

# The Virtual Raw MIDI card's first device: its sequencer port and the raw
# device that reads what is sent to the port.
virmidi_port='VirMIDI 0-0'
virmidi_raw=/dev/snd/midiC0D0

# Starts rawmidi_reader on a raw device in the background ($reader is its
# process) and waits until it reads: RAW RATE|max COUNT. The bytes go to
# bytes.bin, its summary to reader.txt. It runs at the highest priority: on the
# machine's one CPU a sender of the same priority starves a full-speed reader,
# and the kernel drops what does not fit the 4 KiB it keeps for a reader.
start_reader() {
    rm -f ready
    rawmidi_reader "$1" bytes.bin "$2" "$3" 3000 ready >reader.txt &
    reader=$!
    renice -n -20 -p "$reader" >/dev/null
    for _ in $(seq 100); do
        [ -e ready ] && return 0
        sleep 0.05
    done
    echo "rawmidi_reader did not start on $1"
    return 1
}

# Runs vantrel-convert with the given arguments and standard input, keeping
# its output (stdout, stderr), exit status (status) and the times it started
# and ended (tool.txt, in seconds of /proc/uptime).
run_tool() {
    read -r start _ </proc/uptime
    vantrel-convert "$@" >stdout 2>stderr
    echo $? >status
    read -r end _ </proc/uptime
    echo "start=$start end=$end" >tool.txt
}

# Sends the 300 commands to the Virtual Raw MIDI port with the given options
# while its raw side is read at RATE: RATE OPTION...
send_burst() {
    rate=$1
    shift
    start_reader "$virmidi_raw" "$rate" "$burst_bytes" || return
    # shellcheck disable=SC2086 # the options are words
    run_tool --send "$virmidi_port" "$@" </data/commands.txt
    wait "$reader"
    echo $? >reader.status
}

scenario_list_ports() {
    run_tool --list-ports
}

# One message to a port chosen by the full name --list-ports gives it.
scenario_port_by_name() {
    start_reader /dev/snd/midiC0D1 max 15 || return
    run_tool --send 'alsa:Virtual Raw MIDI 0-1:VirMIDI 0-1' 'set x'
    wait "$reader"
    echo $? >reader.status
}

# One message to a port chosen by its address (CLIENT:PORT, as the list gives
# it), and one to the port chosen by its whole line of the list.
scenario_port_by_address() {
    line=$(vantrel-convert --list-ports | grep 'VirMIDI 0-2')
    address=${line##*[}
    address=${address%]}
    start_reader /dev/snd/midiC0D2 max 30 || return
    run_tool --send "$address" 'set x'
    [ "$(cat status)" = 0 ] && run_tool --send "$line" 'set y'
    wait "$reader"
    echo $? >reader.status
}

# The burst read as a MIDI cable would (3,125 bytes a second), sent with the
# paced options: everything must arrive.
scenario_paced() {
    # shellcheck disable=SC2086
    send_burst 3125 $paced
}

# The burst read as fast as it comes, sent with no pacing.
scenario_full_speed() {
    # shellcheck disable=SC2086
    send_burst max $unpaced
}

# The burst sent with no pacing to the cable-speed reader: the kernel drops
# what does not fit its buffer, and the check must see that loss.
scenario_unpaced_loss() {
    # shellcheck disable=SC2086
    send_burst 3125 $unpaced
}

# Starts vantrel-convert --receive in the background ($receiver is its
# process) and waits for its "listening" line: ARGUMENT... Its output goes to
# received.txt or, with --syx, to received.syx; its errors to receiver.err.
start_receiver() {
    out=received.txt
    case " $* " in *" --syx "*) out=received.syx ;; esac
    vantrel-convert --receive "$@" >"$out" 2>receiver.err &
    receiver=$!
    for _ in $(seq 200); do
        grep -q 'listening to' receiver.err && return 0
        sleep 0.05
    done
    echo "the receiver did not start listening: $(cat receiver.err)"
    return 1
}

# The burst sent as fast as the port takes it to "Midi Through" and received
# from it: the receiver's input pool must hold what it has not yet read.
scenario_loopback() {
    start_receiver 'Midi Through' --count 300 --timeout 20000 || return
    # shellcheck disable=SC2086
    run_tool --send 'Midi Through' $unpaced </data/commands.txt
    wait "$receiver"
    echo $? >receiver.status
}

# A long message written to a Virtual Raw MIDI device's raw side reaches
# --receive from its sequencer port, which the kernel feeds in chunks:
# FILE [PAUSE], PAUSE in microseconds after every 512 bytes.
receive_raw() {
    start_receiver 'VirMIDI 0-3' --syx --count 1 --timeout 20000 || return
    blocks=$((($(wc -c <"$1") + 511) / 512))
    i=0
    while [ $i -lt $blocks ]; do
        dd if="$1" bs=512 skip=$i count=1 2>/dev/null
        [ -n "$2" ] && usleep "$2"
        i=$((i + 1))
    done >/dev/snd/midiC0D3
    wait "$receiver"
    echo $? >status
    cp receiver.err stderr
}

# 4 KiB at once: the receiver's input pool holds it even if the receiver
# does not run until all of it is there.
scenario_receive_4k() {
    receive_raw /data/sysex-4k.syx
}

# 64 KiB, 512 bytes every 20 ms (about 25 KB/s, eight times a cable's
# rate), so the receiver must keep up as a hardware port's would. Written
# all at once on the machine's one CPU, the kernel moves the whole of it into
# the receiver's input pool before the receiver runs, and the largest pool
# the kernel allows (2,000 cells, 56,000 bytes) cannot hold 64 KiB.
scenario_receive_64k() {
    receive_raw /data/sysex-64k.syx 20000
}
