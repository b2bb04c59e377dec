# shellcheck shell=bash disable=SC2154 # run.sh sets $cache, $work, $here, $kernel_root...
# The Windows rows of the kernel test, sourced by run.sh for
# "run.sh --windows EXE": the Windows build's vantrel-convert.exe, through
# Wine's ALSA MIDI driver, against snd-virmidi in Debian's kernel under QEMU.
#
# Wine is too large for an initramfs, so the machine mounts this host's root
# file system read-only over 9p and chroots into it, with tmpfs on /tmp,
# /root, /run and /dev/shm. One writable folder is shared as well, at the same
# path: build/kernel/windows, which holds the Wine prefix (made here, with
# Wine's audio driver set to ALSA, which the project's own test prefixes turn
# off) and the results. In the chroot, tests/kernel/windows-rows.sh runs the
# rows; the check_win_* functions below judge them here.

# The sound modules, and those that mount the host's file systems.
windows_modules=(soundcore snd snd-timer snd-seq-device snd-rawmidi snd-seq snd-seq-midi-event
                 snd-seq-virmidi snd-virmidi virtio_pci 9pnet_virtio 9p)

# Makes the Wine prefix once: PREFIX WINEARCH LOADER. wineboot -i takes
# about 15 s.
make_windows_prefix() {
    [[ -f $1/system.reg ]] && return
    echo "wine: making the prefix $1"
    mkdir -p "$1"
    if ! { WINEPREFIX=$1 WINEARCH=$2 wineboot -i &&
        WINEPREFIX=$1 "$3" reg add 'HKCU\Software\Wine\Drivers' /v Audio /d alsa /f &&
        WINEPREFIX=$1 wineserver -w; } >"$1.log" 2>&1; then
        echo "run.sh: cannot make $1:" && cat "$1.log"
        rm -rf "$1"
        return 1
    fi
}

# COUNT System Exclusive messages of SIZE bytes for the receiving rows, each
# different and without the byte 00 (windows-rows.sh writes them with bash,
# whose strings cannot hold it): F0 7D, the message's number from 1, data
# bytes, F7. COUNT SIZE.
write_messages() {
    LC_ALL=C awk -v count="$1" -v size="$2" 'BEGIN {
        for (i = 0; i < count; i++) {
            printf "%c%c%c", 240, 125, i % 127 + 1
            for (j = 0; j < size - 4; j++) printf "%c", (i * 7 + j * 3) % 127 + 1
            printf "%c", 247
        }
    }'
}

# The initramfs: busybox, the modules, and an init that mounts the host's root
# and the shared folder, chroots and runs the rows: STAGE ROWS_COMMAND.
stage_windows() {
    local stage=$1
    stage_busybox_and_modules "$stage"
    cat >"$stage/init" <<EOF
#!/bin/sh
export PATH=/usr/bin:/usr/sbin:/bin:/sbin
mount -t devtmpfs dev /dev
mount -t proc proc /proc
mount -t sysfs sys /sys
while read -r m options; do
    insmod "/modules/\$m" \$options || echo "init: cannot load \$m"
done </modules/order
mkdir -p /host /dev/shm
ln -s /proc/self/fd /dev/fd
nine='trans=virtio,version=9p2000.L,msize=262144'
mount -t 9p -o "\$nine,cache=loose,ro" hostroot /host
for d in /proc /sys /dev; do mount --bind \$d /host\$d; done
for d in /tmp /root /run /dev/shm; do mount -t tmpfs tmp /host\$d; done
# After the tmpfs: the shared folder may lie under one of them (a clone in
# /tmp), and then its mount point is made there.
mkdir -p "/host$share"
mount -t 9p -o "\$nine,cache=mmap" share "/host$share"
read -r up _ </proc/uptime
echo "init: chroot at \$up s"
chroot /host /usr/bin/env -i PATH=/usr/bin:/bin:/usr/sbin:/sbin HOME=/root $2
poweroff -f
EOF
    chmod +x "$stage/init"
}

# Boots the machine, which runs the rows for the Windows build of BITS bits
# (32 or 64) with Wine's LOADER for it into $results: BITS LOADER.
boot_windows() {
    local bits=$1 loader=$2 prefix=$share/prefix$1
    rm -rf "$work/stage"
    # The rows and the program are run from the shared folder: the clone may
    # lie where the machine has a tmpfs.
    cp "$here/windows-rows.sh" "$exe" "$work/"
    stage_windows "$work/stage" \
        "bash $work/windows-rows.sh $loader $prefix $work/${exe##*/} $work $results"
    (cd "$work/stage" && find . | LC_ALL=C sort | cpio -o -H newc --quiet) >"$work/initramfs.cpio"
    # The machine runs about three minutes.
    local started status=0 limit=${VANTREL_KERNEL_TIMEOUT:-450}
    started=$(date +%s.%N)
    timeout --kill-after=5 "$limit" qemu-system-x86_64 -accel tcg -smp 1 -m 2048 \
        -nodefaults -display none -no-reboot -kernel "$vmlinux" -initrd "$work/initramfs.cpio" \
        -append "console=ttyS0 panic=-1" -serial "file:$work/console.log" \
        -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
        -virtfs "local,path=$share,mount_tag=share,security_model=none,multidevs=remap" ||
        status=$?
    echo "windows $bits-bit: QEMU ran $(seconds_since "$started") s (status $status)"
    if [[ ! -f $results/end ]]; then
        fail "the machine did not finish the rows; the end of its console ($work/console.log):"
        tail -n 30 "$work/console.log"
        return 1
    fi
}

# Each Windows device is "winmm:" and the port's name.
check_win_list() {
    local device
    check_status win_list 0 || return
    for device in 'winmm:VirMIDI 0-0  [0]' 'winmm:VirMIDI 0-3  [3]'; do
        grep -qxF -- "$device" <(tr -d '\r' <"$results/win_list/stdout") ||
            fail "win_list: \"$device\" is not listed:$(sed 's/^/\n  /' "$results/win_list/stdout")"
    done
}

# The 100 commands sent with the default pacing arrive whole at the raw side
# read at a cable's rate.
check_win_send() {
    check_status win_send 0 || return
    compare win_send "$work/sent.syx" "$results/win_send/bytes.bin" >"$results/win_send/compare" ||
        fail "$(cat "$results/win_send/compare")"
}

# What was written at the raw side arrives whole, or the tool names a loss
# with status 4 and writes only messages that were sent, whole: NAME EXPECTED.
check_win_receive() {
    local dir=$results/$1 damaged
    damaged=$(grep -cvxFf <(messages "$2") <(messages "$dir/stdout")) || true
    echo "$1: $(messages "$dir/stdout" | grep -c f7) of $(messages "$2" | grep -c f7) messages" \
        "written, $damaged damaged; status $(cat "$dir/status" 2>/dev/null)"
    ((damaged == 0)) || fail "$1: $damaged messages written are not among those sent"
    if [[ $(cat "$dir/status" 2>/dev/null) == 4 ]] && grep -q 'lost' "$dir/stderr"; then
        sed 's/^/  named: /' "$dir/stderr"
    elif check_status "$1" 0; then
        compare "$1" "$2" "$dir/stdout" >"$dir/compare" || fail "$(cat "$dir/compare")"
    fi
}
check_win_receive_burst() { check_win_receive win_receive_burst "$work/messages.syx"; }
check_win_receive_at_once() { check_win_receive win_receive_at_once "$work/messages.syx"; }
check_win_receive_64k() { check_win_receive win_receive_64k "$work/sysex-64k.syx"; }

# Ctrl-C while the receive waits ends it with 130, having closed the device
# (a tool still running later is interrupted again, and said so in its log).
check_win_interrupt() { check_status win_interrupt 130; }

# Boots the machine for the Windows build in $exe and judges its rows.
run_windows() {
    share=$cache/windows
    work=$share/run
    results=$work/results
    rm -rf "$work"
    mkdir -p "$results"
    prepare_kernel
    # shellcheck disable=SC2034 # stage_busybox_and_modules loads these
    modules=("${windows_modules[@]}")
    build_reader "$work/rawmidi_reader"
    head -n 100 <(write_commands) >"$work/commands.txt"
    write_messages 100 137 >"$work/messages.syx"
    write_messages 1 65536 >"$work/sysex-64k.syx"
    local bits=32 loader=wine
    if file -b "$exe" | grep -q 'x86-64'; then
        bits=64 loader=$(command -v wine64 || echo /usr/lib/wine/wine64)
    fi
    make_windows_prefix "$share/prefix$bits" "win$bits" "$loader" || return
    # What the tool sends for the commands, from this host's Wine.
    WINEPREFIX=$share/prefix$bits WINEDEBUG=-all "$loader" "$exe" --syx <"$work/commands.txt" \
        >"$work/sent.syx"
    boot_windows "$bits" "$loader" || return
    local row
    for row in list send receive_burst receive_at_once receive_64k interrupt; do
        "check_win_$row" || true
        if [[ -s $results/win_$row/log ]]; then
            fail "win_$row: $(cat "$results/win_$row/log")"
        fi
    done
    sed 's/^/  /' "$results/times"
}
