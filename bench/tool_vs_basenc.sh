#!/usr/bin/env bash
# Measures vantrel-convert against `basenc --base16` on the same input, in
# three kinds: about 30 MB of short ASCII commands ("set Mode 12", about 12
# bytes a line), then as much of short Cyrillic ones ("set Режим 12", whose
# letters take two bytes of UTF-8 and three hex digits each), both as text,
# then the ASCII commands again with --syx, the checked way to raw bytes;
# output to /dev/null. The programs run alternately, so that a change in the
# machine's load falls on all; each run's CPU time is user + system time.
# Prints every round and, per kind, the median of the ratios, tool over
# basenc.
#
#   bash bench/tool_vs_basenc.sh [--before PROGRAM] [vantrel-convert [pairs, at least 5; default 7 [megabytes; default 30]]]
#
# The tool defaults to the native build's, build/native/cli/vantrel-convert.
# With --before, a second build of the tool (another commit's) runs in the
# same rounds, so that a before/after claim rests on one run.
set -euo pipefail
cd "$(dirname "$0")/.."
before=
if [[ ${1:-} == --before ]]; then
    before=$2
    shift 2
fi
tool=${1:-build/native/cli/vantrel-convert}
pairs=${2:-7}
megabytes=${3:-30}
for program in "$tool" ${before:+"$before"}; do
    if [[ ! -x $program ]]; then
        echo "tool_vs_basenc: no program at $program (build the native preset first)" >&2
        exit 1
    fi
done
if ((pairs < 5)); then
    echo "tool_vs_basenc: at least 5 pairs" >&2
    exit 1
fi

input=$(mktemp)
trap 'rm -f "$input"' EXIT
# Writes lines of "set <word> <number>" with words from "$@" to $input, with
# a fixed seed, so every run measures the same lines.
make_input() {
    awk -v bytes=$((megabytes * 1000 * 1000)) -v list="$*" 'BEGIN {
        srand(12)
        count = split(list, words, " ")
        for (size = 0; size < bytes; size += length(line) + 1) {
            line = "set " words[1 + int(rand() * count)] " " int(rand() * 1000)
            print line
        }
    }' >"$input"
}

# The CPU seconds (user + system) of one run of "$@" on the input.
cpu_seconds() {
    local TIMEFORMAT='%3U %3S'
    local times
    times=$({ time "$@" <"$input" >/dev/null; } 2>&1)
    awk '{ printf "%.3f", $1 + $2 }' <<<"$times"
}

median() {
    sort -g | awk '{ r[NR] = $1 }
        END { print (NR % 2) ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2 }'
}

# Runs the rounds on the input and prints them and the median ratios.
measure() { # kind, then the tool's options
    local kind=$1
    shift
    echo "tool_vs_basenc: $kind: $(wc -l <"$input") lines, $(stat -c %s "$input") bytes; load: $(uptime)"
    local ratios=() before_ratios=() i tool_cpu before_cpu basenc_cpu ratio line
    for ((i = 1; i <= pairs; i++)); do
        tool_cpu=$(cpu_seconds "$tool" "$@")
        [[ -z $before ]] || before_cpu=$(cpu_seconds "$before" "$@")
        basenc_cpu=$(cpu_seconds basenc --base16)
        ratio=$(awk -v t="$tool_cpu" -v b="$basenc_cpu" 'BEGIN { printf "%.2f", t / b }')
        ratios+=("$ratio")
        line="$kind round $i: vantrel-convert ${tool_cpu} s"
        if [[ -n $before ]]; then
            before_ratios+=("$(awk -v t="$before_cpu" -v b="$basenc_cpu" 'BEGIN { printf "%.2f", t / b }')")
            line+=", before ${before_cpu} s"
        fi
        line+=", basenc ${basenc_cpu} s, ratio $ratio"
        echo "$line${before:+, before ${before_ratios[-1]}}"
    done
    echo "$kind: median ratio (vantrel-convert / basenc): $(printf '%s\n' "${ratios[@]}" | median)"
    if [[ -n $before ]]; then
        echo "$kind: median ratio before (before / basenc): $(printf '%s\n' "${before_ratios[@]}" | median)"
    fi
}

make_input Mode Gain Pan Level Tempo Mute Bank Voice Scene Send Port Key
measure ascii
measure syx --syx
make_input Режим Усиление Панорама Уровень Темп Тишина Банк Голос Сцена Посыл Порт Ключ
measure cyrillic
