# shellcheck shell=sh disable=SC2154 # run.sh sets $paced, $unpaced, $burst_bytes
# The scenarios that tests/kernel/run.sh runs inside the test machine (busybox
# sh, a real kernel with the ALSA sequencer, snd-virmidi and snd-seq-dummy, and
# two hardware cards: USB MIDI through dummy_hcd and the USB gadget MIDI
# function, and a UART through snd-serial-u16550 on the third serial port).
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
# commands of the bursts, $burst_bytes bytes of messages, burst.syx). The
# machine's init runs setup first, which sets the cards' variables below. The
# scenarios of the hardware cards are rows at the end, one line each.

# The Virtual Raw MIDI card's first device: its sequencer port and the raw
# device that reads what is sent to the port.
virmidi_port='VirMIDI 0-0'
virmidi_raw=/dev/snd/midiC0D0

# Runs COMMAND until it succeeds, every tenth of a second, at most TENTHS
# times: TENTHS COMMAND...
await() {
    tries=$1
    shift
    until "$@"; do
        tries=$((tries - 1))
        [ $tries -gt 0 ] || return 1
        usleep 100000
    done
}

# The number of the sound card whose driver is DRIVER (/proc/asound/cards).
card_of() {
    sed -n "s/^ *\([0-9]*\) \[.*\]: $1 - .*/\1/p" /proc/asound/cards
}

# The line of --list-ports that holds PATTERN.
port_of() {
    vantrel-convert --list-ports | grep -m 1 -- "$1"
}

# Whether --list-ports lists the cards' sequencer ports (sets usb_port and
# uart_port).
ports_listed() {
    usb_port=$(port_of 'Vantrel Gadget MIDI') && uart_port=$(port_of 'Serial MIDI')
}

# The hardware cards: the USB gadget MIDI function, set up through configfs,
# which dummy_hcd connects to the machine's own USB host, where snd-usb-audio
# binds it as a USB MIDI card; and snd-serial-u16550 on the third serial port,
# whose other end run.sh reads at a cable's rate. Sets gadget_raw (the gadget's
# own raw device: it reads what the USB card sends, and writes what the USB
# card receives), usb_card, usb_port, uart_raw and uart_port.
setup() {
    mount -t configfs none /sys/kernel/config || return
    g=/sys/kernel/config/usb_gadget/g1
    mkdir "$g" "$g/strings/0x409" "$g/functions/midi.usb0" "$g/configs/c.1" || return
    echo 0x1d6b >"$g/idVendor"
    echo 0x0104 >"$g/idProduct"
    echo 'Vantrel Gadget' >"$g/strings/0x409/product"
    for setting in in_ports=1 out_ports=1 buflen=512 qlen=32; do
        echo "${setting#*=}" >"$g/functions/midi.usb0/${setting%=*}"
    done
    ln -s "$g/functions/midi.usb0" "$g/configs/c.1/"
    echo dummy_udc.0 >"$g/UDC" || return
    await 300 grep -q ': USB-Audio - ' /proc/asound/cards || echo "setup: no USB MIDI card"
    usb_card=$(card_of USB-Audio)
    gadget_raw=/dev/snd/midiC$(card_of 'MIDI Gadget')D0
    uart_raw=/dev/snd/midiC$(card_of Serial)D0
    await 100 test -e "$gadget_raw" || echo "setup: no $gadget_raw"
    await 100 ports_listed || echo "setup: the cards' sequencer ports are not listed"
    echo "gadget_raw=$gadget_raw usb_card=$usb_card usb_port=$usb_port"
    echo "uart_raw=$uart_raw uart_port=$uart_port"
}

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
    await 50 test -e ready || { echo "rawmidi_reader did not start on $1"; return 1; }
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
    await 100 grep -qs 'listening to' receiver.err || {
        echo "the receiver did not start listening: $(cat receiver.err)"
        return 1
    }
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

# Ends what the UART's wire carries for this scenario: writes the mark that
# run.sh's reader splits the wire at, and waits for the reader's answer, which
# comes back through the same wire. The device stays open meanwhile, since
# snd-serial-u16550 throws away at close what it has not yet sent. The number
# of the segment goes to wire_segment.
end_wire_segment() {
    segment=$(($(cat /tmp/wire_segments 2>/dev/null || echo 0) + 1))
    echo $segment >/tmp/wire_segments
    echo $segment >wire_segment
    exec 3<>"$uart_raw"
    printf '\360\175\177\177\177\367' >&3
    timeout 30 head -c 1 <&3 >/dev/null || echo "no answer from the wire's reader"
    exec 3<&-
}

# Sends the 300 commands to PORT with the given options while its far end is
# read at RATE: on the gadget's raw device (far end "usb"), or by run.sh at
# the other end of the UART's wire (far end "uart"): PORT END RATE OPTIONS.
send_card() {
    if [ "$2" = usb ]; then
        start_reader "$gadget_raw" "$3" "$burst_bytes" || return
    fi
    # shellcheck disable=SC2086 # the options are words
    run_tool --send "$1" $4 </data/commands.txt
    if [ "$2" = usb ]; then
        wait "$reader"
        echo $? >reader.status
    else
        end_wire_segment
    fi
}

# The value of FIELD in the first input's part of the /proc file of the card's
# raw device (Overruns only while the device is open): CARD FIELD.
input_proc() {
    sed -n "/^Input 0/,/^Output/s/^ *$2 *: *//p" "/proc/asound/card$1/midi0"
}

# Whether the USB card's raw input has counted $size bytes since $before.
# While the device is open, its overrun count goes to the file overruns.
input_grew() {
    grown=$(($(input_proc "$usb_card" 'Rx bytes') - before))
    count=$(input_proc "$usb_card" Overruns)
    [ -n "$count" ] && echo "$count" >overruns
    [ "$grown" -ge "$size" ]
}

# The gadget writes FILE at full speed and --receive --syx takes it from PORT,
# a port of the USB card, expecting COUNT messages. Until all bytes have come
# to the card's raw input, its overrun count is taken while the receiver holds
# it (a receiver that has all its messages closes it, and the count is gone):
# PORT FILE COUNT.
receive_card() {
    start_receiver "$1" --syx --count "$3" --timeout 3000 || return
    before=$(input_proc "$usb_card" 'Rx bytes')
    cat "$2" >"$gadget_raw"
    size=$(wc -c <"$2")
    rm -f overruns
    await 100 input_grew
    wait "$receiver"
    echo $? >status
    cp receiver.err stderr
}

# The hardware cards' rows, each a port, a far end, a rate and options. A row
# for a card's raw port names the port by its address where these name the
# sequencer's, and the far end's rate "max" for a reader that takes all.
# Sending the burst to a card's sequencer port, against a cable-speed reader,
# with the default pace and unpaced, and unpaced to the gadget read at full
# speed.
scenario_usb_paced() { send_card "$usb_port" usb 3125 "$paced"; }
scenario_uart_paced() { send_card "$uart_port" uart 3125 "$paced"; }
scenario_usb_unpaced() { send_card "$usb_port" usb 3125 "$unpaced"; }
scenario_uart_unpaced() { send_card "$uart_port" uart 3125 "$unpaced"; }
scenario_usb_full_speed() { send_card "$usb_port" usb max "$unpaced"; }
# Receiving from the gadget at full speed through the USB card's sequencer
# port: what the kernel drops there is reported, and no damaged message is
# written.
scenario_usb_receive_64k() { receive_card "$usb_port" /data/sysex-64k.syx 1; }
scenario_usb_receive_burst() { receive_card "$usb_port" /data/burst.syx 300; }

# The cards' raw ports, chosen by address (the USB card's by its ID, as in
# /proc/asound/cards): the driver's flow control alone sets the pace of an
# unpaced burst, and what the gadget writes at full speed is read with the
# kernel's own count of what it dropped.
raw_address() { echo "hw:$(sed -n "s/^ *[0-9]* \[\([^ ]*\) *\]: $1 - .*/\1/p" /proc/asound/cards),0,0"; }
# The bytes the USB card's driver has taken from its raw output (Tx bytes) and
# those the gadget's raw input has received (Rx bytes), as the words
# taken_WHEN=N received_WHEN=N in the file counts: WHEN.
usb_counts() {
    echo "taken_$1=$(sed -n 's/^ *Tx bytes *: *//p' "/proc/asound/card$usb_card/midi0")" \
        "received_$1=$(input_proc "$(card_of 'MIDI Gadget')" 'Rx bytes')" >>counts
}
# The counts before and after tell where bytes went: in the driver or the
# link, or after the gadget received them.
scenario_usb_raw_full_speed() {
    usb_counts before
    send_card "$(raw_address USB-Audio)" usb max "$unpaced"
    usb_counts after
}
# The UART's also keeps the count of bytes its driver took from the raw device
# (Tx bytes in its /proc file) before and after, to tell where bytes went.
scenario_uart_raw_unpaced() {
    sed -n 's/^ *Tx bytes *: */before=/p' "/proc/asound/card$(card_of Serial)/midi0" >taken
    send_card "hw:$(card_of Serial),0,0" uart 3125 "$unpaced"
    sed -n 's/^ *Tx bytes *: */after=/p' "/proc/asound/card$(card_of Serial)/midi0" >>taken
}
scenario_usb_raw_receive_64k() { receive_card "hw:$usb_card,0,0" /data/sysex-64k.syx 1; }
scenario_usb_raw_receive_burst() { receive_card "hw:$usb_card,0,0" /data/burst.syx 300; }
# While the USB card's sequencer port is subscribed, its raw input is busy.
scenario_usb_raw_busy() {
    start_receiver "$usb_port" --timeout 5000 && run_tool --receive "hw:$usb_card,0,0" --timeout 1
    kill "$receiver" && wait "$receiver"
}
