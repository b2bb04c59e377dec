#!/usr/bin/env bash
# Runs vantrel-convert against the ALSA sequencer of a real Linux kernel:
# Debian's kernel booted under QEMU (TCG, no KVM needed) from an initramfs
# holding busybox, the sound and USB modules, the tool with its libraries and
# rawmidi_reader. The machine runs tests/kernel/scenarios.sh and sends back the
# results through its second serial port as a gzipped tar; the check_NAME functions
# below judge them here. Its third serial port is a MIDI UART, whose wire
# rawmidi_reader reads here at a cable's rate.
#
#   bash tests/kernel/run.sh build/native/cli/vantrel-convert
#   bash tests/kernel/run.sh --windows build/windows/cli/vantrel-convert.exe
#
# The second runs the Windows build's rows instead (tests/kernel/windows.sh).
# The kernel package is downloaded with apt-get once and unpacked into build/kernel.
# VANTREL_KERNEL_PACED and VANTREL_KERNEL_UNPACED set the tool's send options
# for the paced and the unpaced bursts. Exit status 0 when every check passes.
set -euo pipefail
# Under pipefail a reader that stops early (head, awk's exit) can fail its
# pipe with SIGPIPE, so the readers here read to the end.

exe=
if [[ ${1-} == --windows && $# == 2 ]]; then
    exe=$(realpath "$2")
elif (($# != 1)); then
    echo "usage: $0 path/to/vantrel-convert | --windows path/to/vantrel-convert.exe" >&2
    exit 2
else
    tool=$(realpath "$1")
fi
here=$(cd "$(dirname "$0")" && pwd)
cache=$(realpath -m "$here/../../build/kernel")
work=$cache/run

# The options that make vantrel-convert hold a rate a MIDI cable can carry, and
# the ones that send as fast as it can. 137-byte messages 40 ms apart are at
# most 3,425 bytes a second; the cost of each send (1.5 to 5 ms measured here)
# brings that near the cable's 3,125, and even with no cost at all the excess
# of the whole burst (3.7 KB) fits the 4 KiB the kernel keeps for a reader.
# 50 ms apart, every byte arrives too, but the burst takes over 20% longer
# than the wire.
paced=${VANTREL_KERNEL_PACED-""}
unpaced=${VANTREL_KERNEL_UNPACED-"--rate max"}
timeout_seconds=${VANTREL_KERNEL_TIMEOUT:-300}

# What a MIDI cable carries: 31,250 bits a second, 10 bits a byte.
cable_rate=3125
burst_bytes=$((300 * 137))
# The sound and USB modules the machine loads, each after the ones it needs,
# and the options of some: snd-serial-u16550 drives the third serial port (IRQ
# 4 is ttyS0's, and the driver would fall back to polling; adaptor 0 would
# insert F5 01 bytes).
modules=(soundcore snd snd-timer snd-seq-device snd-rawmidi snd-seq snd-seq-midi-event
         snd-seq-virmidi snd-virmidi snd-seq-dummy snd-seq-midi
         dummy_hcd libcomposite usb_f_midi snd-usb-audio snd-serial-u16550)
declare -A module_options=(
    [snd-serial-u16550]="port=0x3e8 irq=5 speed=38400 base=115200 outs=1 adaptor=1")

started=$(date +%s.%N)
failures=0
fail() {
    echo "FAIL $*"
    failures=$((failures + 1))
}
seconds_since() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }'; }

# Downloads and unpacks the kernel package that linux-image-amd64 depends on,
# once, and unpacks the kernel itself (vmlinux) from the xz stream in vmlinuz,
# for QEMU to start it directly. Sets kernel_root, kernel_version, vmlinux.
prepare_kernel() {
    local package
    package=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-[0-9]/ && !n++ { print $2 }')
    if [[ -z $package ]]; then
        echo "run.sh: apt-cache names no kernel package for linux-image-amd64" >&2
        exit 1
    fi
    kernel_version=${package#linux-image-}
    kernel_root=$cache/$package
    vmlinux=$kernel_root/vmlinux
    if [[ -s $vmlinux ]]; then
        return
    fi
    echo "kernel: downloading $package"
    rm -rf "$cache"/linux-image-*
    # As root, apt fetches as the user _apt, into a folder that user can write.
    local download
    download=$(mktemp -d)
    if ((EUID == 0)) && id _apt >/dev/null 2>&1; then
        chown _apt "$download"
    fi
    (cd "$download" && apt-get download -q "$package")
    dpkg-deb -x "$download/$package"_*.deb "$kernel_root"
    rm -rf "$download"
    depmod -b "$kernel_root" "$kernel_version"
    local image=$kernel_root/boot/vmlinuz-$kernel_version offset
    offset=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$image" | awk -F: 'NR == 1 { print $1 }')
    if [[ -z $offset ]]; then
        echo "run.sh: no xz stream in $image" >&2
        exit 1
    fi
    # xz stops at the stream's end, before the rest of the file.
    xz -dc --single-stream < <(tail -c "+$((offset + 1))" "$image") >"$vmlinux.part"
    mv "$vmlinux.part" "$vmlinux"
}

# The 300 commands of the bursts, one to a line: "set " and 123 characters,
# each line different, so each message is 137 bytes (8 header, 1 length, 127
# units, F7) and a message out of place shows.
write_commands() {
    awk 'BEGIN {
        for (i = 0; i < 300; i++) {
            line = sprintf("set %05d ", i)
            for (j = 0; j < 117; j++) line = line sprintf("%c", 33 + (i * 7 + j * 3) % 94)
            print line
        }
    }'
}

# A System Exclusive message of SIZE bytes for the receiving scenarios: F0 7D
# (the manufacturer number kept for non-commercial use), data bytes counting
# 00 to 7f over and over, F7.
write_sysex() {
    local block= i
    for ((i = 0; i < 128; i++)); do
        block+=$(printf '\\%03o' "$i")
    done
    for ((i = 0; i < $1 / 128 + 1; i++)); do
        printf "$block"
    done >"$work/sysex-data"
    printf '\xf0\x7d'
    head -c $(($1 - 3)) "$work/sysex-data"
    printf '\xf7'
}

# Builds rawmidi_reader, static, with the project's warnings
# (cmake/VantrelWarnings.cmake) as errors: OUTPUT.
build_reader() {
    g++ -std=c++20 -O2 -static -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion \
        -Werror -o "$1" "$here/rawmidi_reader.cpp"
}

# Puts busybox and its applets into the initramfs directory STAGE, and the
# modules (uncompressed, in load order) with their list, modules/order.
stage_busybox_and_modules() {
    local stage=$1 applet module file
    mkdir -p "$stage"/{bin,sbin,usr/bin,usr/sbin,dev,proc,sys,tmp,results,data,modules}
    cp /bin/busybox "$stage/bin/busybox"
    for applet in $(busybox --list-full); do
        [[ ${applet##*/} == busybox || -e $stage/$applet ]] && continue
        ln -s /bin/busybox "$stage/$applet"
    done
    : >"$stage/modules/order"
    for module in $(for m in "${modules[@]}"; do
        modprobe -S "$kernel_version" -d "$kernel_root" --show-depends "$m" | awk '$1 == "insmod" { print $2 }'
    done | awk '!seen[$0]++'); do
        file=$(basename "$module")
        case $module in
            *.ko.xz) file=${file%.xz}; xz -dc "$module" >"$stage/modules/$file" ;;
            *.ko) cp "$module" "$stage/modules/$file" ;;
            *) echo "run.sh: cannot load $module" >&2; exit 1 ;;
        esac
        echo "$file ${module_options[${file%.ko}]-}" >>"$stage/modules/order"
    done
}

# Fills the initramfs directory: busybox and the modules, the tool with the
# libraries it links or opens, the ALSA configuration, the reader, the
# scenarios and their data, and init.
stage_initramfs() {
    local stage=$1 library
    stage_busybox_and_modules "$stage"
    mkdir -p "$stage/usr/share/alsa"
    cp "$tool" "$stage/usr/bin/vantrel-convert"
    # The tool opens libasound with dlopen, which ldd does not show: it is
    # taken from where this machine's loader finds it, with what it links.
    local asound
    asound=$(/sbin/ldconfig -p | awk '$1 == "libasound.so.2" && /x86-64/ && !n++ { print $NF }')
    if [[ -z $asound ]]; then
        echo "run.sh: no libasound.so.2 here (install libasound2)" >&2
        exit 1
    fi
    for library in $({ ldd "$tool"; echo "libasound.so.2 => $asound"; ldd "$asound"; } |
        awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// { print $1 }' | sort -u); do
        mkdir -p "$stage/$(dirname "$library")"
        cp -L "$library" "$stage/$library"
    done
    cp /usr/share/alsa/alsa.conf "$stage/usr/share/alsa/"
    build_reader "$stage/usr/bin/rawmidi_reader"
    cp "$here/scenarios.sh" "$stage/scenarios.sh"
    cp "$work/commands.txt" "$work/sysex-4k.syx" "$work/sysex-64k.syx" "$stage/data/"
    cp "$work/expected.syx" "$stage/data/burst.syx"
    printf 'paced=%q\nunpaced=%q\nburst_bytes=%d\n' "$paced" "$unpaced" "$burst_bytes" \
        >"$stage/config.sh"
    cat >"$stage/init" <<'EOF'
#!/bin/sh
export PATH=/usr/bin:/usr/sbin:/bin:/sbin
mount -t devtmpfs dev /dev
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t tmpfs tmp /tmp
mkdir -p /dev/shm && mount -t tmpfs shm /dev/shm
read -r up _ </proc/uptime
echo "boot=$up" >/results/machine.txt
while read -r m options; do
    insmod "/modules/$m" $options || echo "init: cannot load $m"
done </modules/order
. /config.sh
. /scenarios.sh
setup >/results/setup.log 2>&1
for name in $(sed -n 's/^scenario_\([A-Za-z0-9_]*\)() *{.*/\1/p' /scenarios.sh); do
    read -r up _ </proc/uptime
    echo "init: $name at $up s"
    mkdir "/results/$name"
    seen=$(dmesg | wc -l)
    (cd "/results/$name" && "scenario_$name") </dev/null >"/results/$name/log" 2>&1
    dmesg | tail -n +$((seen + 1)) >"/results/$name/dmesg"
done
read -r up _ </proc/uptime
echo "end=$up" >>/results/machine.txt
(cd /results && find . -type f ! -name manifest -exec md5sum {} + >manifest)
stty -F /dev/ttyS1 raw -echo
tar -czf /dev/ttyS1 -C /results .
echo "init: results sent"
reboot -f
EOF
    chmod +x "$stage/init"
}

# Prints where FILE differs from EXPECTED and returns 1, or returns 0 when
# they are the same: NAME EXPECTED FILE.
compare() {
    local name=$1 expected=$2 actual=$3 want got offset
    if [[ ! -f $actual ]]; then
        echo "$name: nothing was read (no $(basename "$actual"))"
        return 1
    fi
    want=$(stat -c %s "$expected")
    got=$(stat -c %s "$actual")
    if cmp -s "$expected" "$actual"; then
        return 0
    fi
    offset=$(cmp "$expected" "$actual" 2>&1 | sed -n 's/.* differ: byte \([0-9]*\),.*/\1/p')
    if [[ -n $offset ]]; then
        offset=$((offset - 1))
    else
        offset=$((want < got ? want : got))
    fi
    echo "$name: expected $want bytes, got $got; first difference at offset $offset"
    echo "  expected:$(od -An -tx1 -j "$offset" -N 16 "$expected")"
    echo "  got:     $(od -An -tx1 -j "$offset" -N 16 "$actual")"
    return 1
}

# The value of KEY in a file of KEY=VALUE words: FILE KEY.
value() {
    tr ' ' '\n' <"$1" | sed -n "s/^$2=//p"
}

# Exit status of the tool in scenario NAME, checked against WANT: NAME WANT.
check_status() {
    local status
    status=$(cat "$results/$1/status" 2>/dev/null) || status="none (it did not run)"
    if [[ $status != "$2" ]]; then
        fail "$1: vantrel-convert exited with $status, expected $2; its errors:"
        sed 's/^/  /' "$results/$1/stderr"
        return 1
    fi
}

# The burst of scenario NAME arrived whole and in order, with status 0.
check_burst() {
    local name=$1 dir=$results/$1
    check_status "$name" 0 || true
    if ! compare "$name" "$work/expected.syx" "$dir/bytes.bin" >"$dir/compare"; then
        fail "$(cat "$dir/compare")"
        return 1
    fi
}

# How long the burst of scenario NAME took on the wire, from the first byte
# read to the last (the tool's own start, slow in an emulated machine, left
# out), and how long the tool ran.
burst_seconds() {
    awk -v a="$(value "$results/$1/reader.txt" first)" -v b="$(value "$results/$1/reader.txt" last)" \
        'BEGIN { printf "%.2f", b - a }'
}
tool_seconds() {
    awk -v a="$(value "$results/$1/tool.txt" start)" -v b="$(value "$results/$1/tool.txt" end)" \
        'BEGIN { printf "%.2f", b - a }'
}

check_list_ports() {
    local port
    check_status list_ports 0 || return
    for port in 'alsa:Midi Through:Midi Through Port-0' 'alsa:Virtual Raw MIDI 0-0:VirMIDI 0-0' \
                'alsa:Virtual Raw MIDI 0-3:VirMIDI 0-3'; do
        # Each line is the name, two spaces and the address in brackets.
        grep -qxE -- "$port  \[[0-9]+:[0-9]+\]" "$results/list_ports/stdout" ||
            fail "list_ports: \"$port\" is not listed; the list:$(sed 's/^/\n  /' "$results/list_ports/stdout")"
    done
}

check_port_by_name() {
    local dir=$results/port_by_name
    check_status port_by_name 0 || return
    printf '\xf0\x00\x00\x40\x02\x00\x00\x61\x05set x\xf7' >"$dir/expected"
    compare port_by_name "$dir/expected" "$dir/bytes.bin" >"$dir/compare" || fail "$(cat "$dir/compare")"
}

# The port chosen by its address, and by a whole line of the list.
check_port_by_address() {
    local dir=$results/port_by_address
    check_status port_by_address 0 || return
    printf '\xf0\x00\x00\x40\x02\x00\x00\x61\x05set x\xf7\xf0\x00\x00\x40\x02\x00\x00\x61\x05set y\xf7' \
        >"$dir/expected"
    compare port_by_address "$dir/expected" "$dir/bytes.bin" >"$dir/compare" || fail "$(cat "$dir/compare")"
}

# Everything of scenario NAME arrives at cable speed, taking the time the
# wire takes, within 10%.
check_cable() {
    check_burst "$1" || return
    local took wire
    took=$(burst_seconds "$1")
    wire=$(awk -v n=$burst_bytes -v r=$cable_rate 'BEGIN { printf "%.2f", n / r }')
    echo "$1: $(stat -c %s "$results/$1/bytes.bin") bytes in $took s (the tool ran" \
        "$(tool_seconds "$1") s); the wire takes $wire s"
    awk -v t="$took" -v w="$wire" 'BEGIN { exit !(t >= 0.9 * w && t <= 1.1 * w) }' ||
        fail "$1: took $took s, not within 10% of the wire's $wire s"
}
check_paced() { check_cable paced; }
check_usb_paced() { check_cable usb_paced; }
check_uart_paced() { check_cable uart_paced; }

# The messages of a .syx FILE, one to a line, in hex.
messages() {
    od -An -v -tx1 "$1" | tr -s ' \n' '  ' | sed 's/ f7/ f7\n/g'
}

# What a run that loses data today did, for the raw ports to be measured
# against: how much of EXPECTED arrived in FILE of scenario NAME, where the
# first loss fell, how many of
# the messages there are not among EXPECTED's, the tool's status and errors,
# the kernel's messages and, where taken, the overrun count of the card's raw
# input: NAME EXPECTED FILE.
measure() {
    local dir=$results/$1 arrived=0 damaged difference
    [[ -f $dir/status ]] || { fail "$1: the tool did not run"; return; }
    [[ -f $dir/$3 ]] && arrived=$(stat -c %s "$dir/$3")
    damaged=$(grep -cvxFf <(messages "$2") <(messages "$dir/$3" 2>/dev/null)) || true
    difference=$(cmp "$2" "$dir/$3" 2>&1 | sed -n 's/.* differ: byte \([0-9]*\),.*/\1/p')
    echo "$1 (measured): $arrived of $(stat -c %s "$2") bytes arrived," \
        "$(if cmp -s "$2" "$dir/$3"; then echo whole; elif [[ -n $difference ]]; then
            echo "first difference at offset $((difference - 1))"; elif ((arrived > 0)); then
            echo "a prefix"; else echo nothing; fi)," \
        "$(messages "$dir/$3" 2>/dev/null | grep -c f7) messages, $damaged of them damaged," \
        "status $(cat "$dir/status"), overruns $(cat "$dir/overruns" 2>/dev/null || echo -)"
    sed 's/^/  stderr: /' "$dir/stderr"
    sed 's/^/  dmesg: /' "$dir/dmesg"
}
check_usb_unpaced() { measure usb_unpaced "$work/expected.syx" bytes.bin; }
check_uart_unpaced() { measure uart_unpaced "$work/expected.syx" bytes.bin; }
check_usb_full_speed() { measure usb_full_speed "$work/expected.syx" bytes.bin; }

# EXPECTED, received through a card's sequencer port, arrives whole, or all the card's raw input
# dropped (its overrun count) is reported lost with status 4; what is written is EXPECTED's messages.
check_receive_loss() {
    local dir=$results/$1 dropped reported damaged
    dropped=$(cat "$dir/overruns" 2>/dev/null || echo 0)
    reported=$(sed -n 's/.*: \([0-9]*\) bytes lost before message .*/\1/p' "$dir/stderr" |
        awk '{ n += $1 } END { print n + 0 }')
    damaged=$(grep -cvxFf <(messages "$2") <(messages "$dir/received.syx")) || true
    echo "$1: $(stat -c %s "$dir/received.syx") of $(stat -c %s "$2") bytes written in $(messages \
        "$dir/received.syx" | grep -c f7) messages, $damaged damaged; $dropped bytes dropped," \
        "$reported reported; $(grep -c 'not written' "$dir/stderr") not written; status $(cat "$dir/status")"
    ((damaged == 0)) || fail "$1: $damaged messages written are not among those sent"
    ((reported == dropped)) || fail "$1: the kernel dropped $dropped bytes, the tool reported $reported"
    # A loss the tool named itself (its client's input pool overflowed on a
    # machine too busy to read in time) ends the run with 4 too.
    if ((dropped > 0)) || grep -q "input pool overflowed" "$dir/stderr"; then
        check_status "$1" 4 || true
    elif check_status "$1" 0; then
        compare "$1" "$2" "$dir/received.syx" >"$dir/compare" || fail "$(cat "$dir/compare")"
    fi
}
check_usb_receive_64k() { check_receive_loss usb_receive_64k "$work/sysex-64k.syx"; }
check_usb_receive_burst() { check_receive_loss usb_receive_burst "$work/expected.syx"; }

# The cards' raw ports: the unpaced burst arrives whole at the gadget read at
# full speed, and is measured through the UART's cable-speed wire, with the
# bytes its driver took; what the gadget writes at full speed comes whole out
# of --receive --syx. As measure: NAME EXPECTED FILE.
whole() {
    check_status "$1" 0 || true
    compare "$@" >"$results/$1/compare" 2>&1 || fail "$(cat "$results/$1/compare")"
    measure "$1" "$2" "$(basename "$3")"
}
# How much COUNT grew in a file of COUNT_before=N COUNT_after=N words, or "?"
# when either is missing: FILE COUNT.
grown() {
    local before after
    before=$(value "$1" "$2_before" 2>/dev/null) || true
    after=$(value "$1" "$2_after" 2>/dev/null) || true
    if [[ $before =~ ^[0-9]+$ && $after =~ ^[0-9]+$ ]]; then
        echo $((after - before))
    else
        echo "?"
    fi
}
# The USB card's raw port also says how many bytes its driver took from the
# tool and how many the gadget received.
check_usb_raw_full_speed() {
    local counts=$results/usb_raw_full_speed/counts
    whole usb_raw_full_speed "$work/expected.syx" "$results/usb_raw_full_speed/bytes.bin"
    echo "  the USB card's driver took $(grown "$counts" taken) bytes (Tx bytes), the gadget" \
        "received $(grown "$counts" received) (Rx bytes)"
}
check_uart_raw_unpaced() {
    measure uart_raw_unpaced "$work/expected.syx" bytes.bin
    echo "  the driver took (Tx bytes): $(tr '\n' ' ' <"$results/uart_raw_unpaced/taken")"
}
check_usb_raw_receive_64k() { whole usb_raw_receive_64k "$work/sysex-64k.syx" "$results/usb_raw_receive_64k/received.syx"; }
check_usb_raw_receive_burst() { whole usb_raw_receive_burst "$work/expected.syx" "$results/usb_raw_receive_burst/received.syx"; }
# The error names the receiver that holds the raw input through the sequencer.
check_usb_raw_busy() {
    check_status usb_raw_busy 4 || return
    grep -q 'is busy: held by process [0-9]* (vantrel-convert)' "$results/usb_raw_busy/stderr" ||
        fail "usb_raw_busy: $(cat "$results/usb_raw_busy/stderr")"
}

check_full_speed() {
    check_burst full_speed || return
    echo "full_speed: $(stat -c %s "$results/full_speed/bytes.bin") bytes in" \
        "$(burst_seconds full_speed) s"
}

# Sent unpaced to the cable-speed reader, messages must be lost; were none
# lost, the paced check would prove nothing.
check_unpaced_loss() {
    local dir=$results/unpaced_loss
    check_status unpaced_loss 0 || return
    if compare "unpaced_loss (lost as it must be)" "$work/expected.syx" "$dir/bytes.bin" \
        >"$dir/compare"; then
        fail "unpaced_loss: all $(stat -c %s "$dir/bytes.bin") bytes arrived unpaced; the reader or the check is wrong"
    else
        head -n 1 "$dir/compare"
    fi
}

# What --send printed came back from "Midi Through" line for line.
check_loopback() {
    local dir=$results/loopback
    check_status loopback 0 || return
    [[ $(cat "$dir/receiver.status" 2>/dev/null) == 0 ]] ||
        fail "loopback: the receiver exited with $(cat "$dir/receiver.status" 2>/dev/null), expected 0: $(cat "$dir/receiver.err")"
    compare loopback "$dir/stdout" "$dir/received.txt" >"$dir/compare" || fail "$(cat "$dir/compare")"
    echo "loopback: $(wc -l <"$dir/received.txt") of $(wc -l <"$dir/stdout") lines came back"
}

# A long message written to a raw device came out of --receive --syx whole.
check_long() {
    local dir=$results/receive_$1
    check_status "receive_$1" 0 || return
    compare "receive_$1" "$work/sysex-$1.syx" "$dir/received.syx" >"$dir/compare" ||
        fail "$(cat "$dir/compare")"
}
check_receive_4k() { check_long 4k; }
check_receive_64k() { check_long 64k; }

mkdir -p "$cache"
if [[ -n $exe ]]; then
    # shellcheck source=tests/kernel/windows.sh
    source "$here/windows.sh"
    run_windows
    echo "times: run.sh in all $(seconds_since "$started") s"
    if ((failures > 0)); then
        echo "kernel tests (Windows): $failures failed"
        exit 1
    fi
    echo "kernel tests (Windows): all passed"
    exit 0
fi
rm -rf "$work"
mkdir -p "$work/stage" "$work/results"
results=$work/results
prepare_kernel
write_commands >"$work/commands.txt"
write_sysex 4096 >"$work/sysex-4k.syx"
write_sysex 65536 >"$work/sysex-64k.syx"
"$tool" --syx <"$work/commands.txt" >"$work/expected.syx"
if (($(stat -c %s "$work/expected.syx") != burst_bytes)); then
    echo "run.sh: the burst's commands make $(stat -c %s "$work/expected.syx") bytes, not $burst_bytes" >&2
    exit 1
fi
stage_initramfs "$work/stage"
(cd "$work/stage" && find . | LC_ALL=C sort | cpio -o -H newc --quiet) >"$work/initramfs.cpio"
echo "kernel: $kernel_version; initramfs $(($(stat -c %s "$work/initramfs.cpio") / 1024)) KiB;" \
    "paced options: '$paced', unpaced: '$unpaced'"

# The UART's wire: QEMU writes what the machine sends into wire.out, which
# rawmidi_reader drains at a cable's rate into wire.1, wire.2 and so on, one
# for each mark the machine sends, answering each through wire.in. It ends
# when QEMU closes the pipe.
mkfifo "$work/wire.in" "$work/wire.out"
"$work/stage/usr/bin/rawmidi_reader" "$work/wire.out" "$work/wire" $cable_rate 0 \
    $((timeout_seconds * 1000)) "$work/wire.ready" "$work/wire.in" >"$work/wire.txt" &
wire_reader=$!
for _ in $(seq 100); do
    [[ -e $work/wire.ready ]] && break
    sleep 0.1
done
if [[ ! -e $work/wire.ready ]]; then
    echo "run.sh: rawmidi_reader did not start on $work/wire.out" >&2
    kill "$wire_reader"
    exit 1
fi
qemu_started=$(date +%s.%N)
qemu_status=0
# Without pnpacpi=off, ACPI gives the third port to the serial driver as ttyS0,
# and the console lands on the MIDI wire.
timeout --kill-after=5 "$timeout_seconds" qemu-system-x86_64 -accel tcg -smp 1 -m 512 \
    -nodefaults -display none -no-reboot -kernel "$vmlinux" -initrd "$work/initramfs.cpio" \
    -append "console=ttyS0 panic=-1 8250.nr_uarts=2 pnpacpi=off" \
    -serial "file:$work/console.log" -serial "file:$work/results.tar.gz" \
    -chardev "pipe,id=wire,path=$work/wire" -device isa-serial,chardev=wire,iobase=0x3e8,irq=5 ||
    qemu_status=$?
qemu_seconds=$(seconds_since "$qemu_started")
# A writer that comes and goes ends the reader even if QEMU never opened the
# pipe; otherwise it ends once it has drained what QEMU left there.
exec {writer}<>"$work/wire.out"
exec {writer}>&-
wait "$wire_reader" || echo "the wire's reader failed"
if ((qemu_status != 0)) || ! tar -xzf "$work/results.tar.gz" -C "$results" 2>/dev/null ||
    ! (cd "$results" && md5sum --quiet -c manifest); then
    echo "FAIL the machine sent no whole results (QEMU status $qemu_status after $qemu_seconds s" \
        "of at most $timeout_seconds s); the end of its console ($work/console.log):"
    tail -n 30 "$work/console.log"
    exit 1
fi

# Each scenario on the UART takes its segment of the wire.
for segment in "$results"/*/wire_segment; do
    [[ -e $segment ]] || continue
    number=$(cat "$segment")
    cp "$work/wire.$number" "$(dirname "$segment")/bytes.bin" 2>/dev/null || true
    sed -n "${number}p" "$work/wire.txt" >"$(dirname "$segment")/reader.txt"
done
if [[ -s $results/setup.log ]]; then
    echo "  setup said:"
    sed 's/^/    /' "$results/setup.log"
fi
boot=$(value "$results/machine.txt" boot)
guest_end=$(value "$results/machine.txt" end)
mapfile -t scenarios < <(sed -n 's/^scenario_\([A-Za-z0-9_]*\)() *{.*/\1/p' "$here/scenarios.sh")
for scenario in "${scenarios[@]}"; do
    if [[ ! -d $results/$scenario ]]; then
        fail "$scenario: no results"
    elif ! declare -F "check_$scenario" >/dev/null; then
        fail "$scenario: run.sh has no check_$scenario"
    else
        "check_$scenario" || true
    fi
    if [[ -s $results/$scenario/log ]]; then
        echo "  $scenario said:"
        sed 's/^/    /' "$results/$scenario/log"
    fi
done

# The rest of QEMU's time is its start, the results' way out and its end.
echo "times: kernel start to init $boot s, scenarios" \
    "$(awk -v b="$boot" -v e="$guest_end" 'BEGIN { printf "%.1f", e - b }') s," \
    "QEMU in all $qemu_seconds s, run.sh in all $(seconds_since "$started") s"
if ((failures > 0)); then
    echo "kernel tests: $failures failed"
    exit 1
fi
echo "kernel tests: all passed"
