#!/usr/bin/env bash
# Tests the bash completion of vantrel-convert (its path is the argument):
# options, port names after --send (whole lines of the list, address
# included, where names repeat) and source names after --receive, with the
# words split as bash splits them (at the colons of COMP_WORDBREAKS) and the
# name typed plainly, with escaped spaces or inside an open quote, and "max"
# after --rate. A stand-in vantrel-convert on PATH lists the ports and the
# sources.
set -u
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cat >"$tmp/vantrel-convert" <<'PORTS'
#!/bin/sh
case $1 in
--list-ports)
    printf '%s\n' 'alsa:Midi Through:Midi Through Port-0  [14:0]' 'jack:midi-monitor:input' \
        'jack:system:midi_playback_1' 'alsa:USB MIDI:USB MIDI 1  [20:0]' \
        'alsa:USB MIDI:USB MIDI 1  [24:0]' ;;
--list-inputs)
    printf '%s\n' 'alsa:Midi Through:Midi Through Port-0  [14:0]' 'jack:system:midi_capture_1' \
        'alsa:Midi Through:Midi Through Port-0  [hw:0,0,0]' ;;
*) exit 2 ;;
esac
PORTS
chmod +x "$tmp/vantrel-convert"
PATH=$tmp:$PATH
source "$1"

failures=0
# expect LINE WORD... '=>' REPLY...: completes at the end of LINE, which bash
# split into the WORDs, and compares the replies.
expect() {
    local line=$1 got wanted
    shift
    COMP_WORDS=()
    while [[ $1 != '=>' ]]; do
        COMP_WORDS+=("$1")
        shift
    done
    shift
    COMP_LINE=$line COMP_POINT=${#line} COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _vantrel_convert
    got=$(printf '[%s]' "${COMPREPLY[@]}")
    wanted=$(printf '[%s]' "$@")
    if [[ $got != "$wanted" ]]; then
        echo "FAIL: $line"$'\n'"  got    $got"$'\n'"  wanted $wanted"
        ((failures++))
    fi
}

expect 'vantrel-convert --s' vantrel-convert --s '=>' --syx --send
expect 'vantrel-convert --check --send a' vantrel-convert --check --send a '=>' \
    'alsa:Midi\ Through:Midi\ Through\ Port-0' 'alsa:USB\ MIDI:USB\ MIDI\ 1\ \ \[20:0\]' \
    'alsa:USB\ MIDI:USB\ MIDI\ 1\ \ \[24:0\]'
expect 'vantrel-convert --send jack:' vantrel-convert --send jack : '=>' \
    midi-monitor:input system:midi_playback_1
expect 'vantrel-convert --send jack:system:' vantrel-convert --send jack : system : '=>' \
    midi_playback_1
expect 'vantrel-convert --send alsa:Midi\ Th' vantrel-convert --send alsa : 'Midi\ Th' '=>' \
    'Midi\ Through:Midi\ Through\ Port-0'
expect "vantrel-convert --send 'alsa:Midi T" vantrel-convert --send "'alsa:Midi T" '=>' \
    'alsa:Midi Through:Midi Through Port-0'
expect 'vantrel-convert --send jack:midi --int' vantrel-convert --send jack : midi --int '=>' \
    --interval
expect 'vantrel-convert --interval ' vantrel-convert --interval '' '=>'
expect 'vantrel-convert -- --s' vantrel-convert -- --s '=>'
expect 'vantrel-convert --send x' vantrel-convert --send x '=>'
expect 'vantrel-convert --send alsa:U' vantrel-convert --send alsa : U '=>' \
    'USB\ MIDI:USB\ MIDI\ 1\ \ \[20:0\]' 'USB\ MIDI:USB\ MIDI\ 1\ \ \[24:0\]'
expect "vantrel-convert --send 'alsa:USB MIDI:USB MIDI 1  [2" \
    vantrel-convert --send "'alsa:USB MIDI:USB MIDI 1  [2" '=>' \
    'alsa:USB MIDI:USB MIDI 1  [20:0]' 'alsa:USB MIDI:USB MIDI 1  [24:0]'
expect 'vantrel-convert --send alsa:USB\ MIDI:USB\ MIDI\ 1\ \ \[24:' \
    vantrel-convert --send alsa : 'USB\ MIDI' : 'USB\ MIDI\ 1\ \ \[24' : '=>' '0\]'
expect 'vantrel-convert --rate ' vantrel-convert --rate '' '=>' max
expect 'vantrel-convert --rate m' vantrel-convert --rate m '=>' max
expect 'vantrel-convert --rate 3' vantrel-convert --rate 3 '=>'
expect 'vantrel-convert --receive jack:' vantrel-convert --receive jack : '=>' system:midi_capture_1
expect 'vantrel-convert --receive jack:system:midi_capture_1 --co' vantrel-convert --receive jack : \
    system : midi_capture_1 --co '=>' --count
expect 'vantrel-convert --timeout ' vantrel-convert --timeout '' '=>'
expect "vantrel-convert --receive 'alsa:Midi" vantrel-convert --receive "'alsa:Midi" '=>' \
    'alsa:Midi Through:Midi Through Port-0  [14:0]' 'alsa:Midi Through:Midi Through Port-0  [hw:0,0,0]'

((failures == 0)) && echo "all completions as expected"
exit $((failures != 0))
