#!/usr/bin/env bash
# Measures vantrel-convert against `basenc --base16` on the same input, in
# two kinds: about 30 MB of short ASCII commands ("set Mode 12", about 12
# bytes a line), then as much of short Cyrillic ones ("set Режим 12", whose
# letters take two bytes of UTF-8 and three hex digits each), output to
# /dev/null. The two programs run alternately, so that a change in the
# machine's load falls on both; each run's CPU time is user + system time.
# Prints every pair and, per kind, the median of the ratios, tool over basenc.
#
#   bash bench/tool_vs_basenc.sh [vantrel-convert [pairs, at least 5; default 7 [megabytes; default 30]]]
#
# The tool defaults to the native build's, build/native/cli/vantrel-convert.
set -euo pipefail
cd "$(dirname "$0")/.."
tool=${1:-build/native/cli/vantrel-convert}
pairs=${2:-7}
megabytes=${3:-30}
if [[ ! -x $tool ]]; then
    echo "tool_vs_basenc: no program at $tool (build the native preset first)" >&2
    exit 1
fi
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

# Runs the pairs on the input and prints them and the median ratio.
measure() { # kind
    echo "tool_vs_basenc: $1: $(wc -l <"$input") lines, $(stat -c %s "$input") bytes; load: $(uptime)"
    local ratios=() i tool_cpu basenc_cpu ratio median
    for ((i = 1; i <= pairs; i++)); do
        tool_cpu=$(cpu_seconds "$tool")
        basenc_cpu=$(cpu_seconds basenc --base16)
        ratio=$(awk -v t="$tool_cpu" -v b="$basenc_cpu" 'BEGIN { printf "%.2f", t / b }')
        echo "$1 pair $i: vantrel-convert ${tool_cpu} s, basenc ${basenc_cpu} s, ratio $ratio"
        ratios+=("$ratio")
    done
    median=$(printf '%s\n' "${ratios[@]}" | sort -g | awk '{ r[NR] = $1 }
        END { print (NR % 2) ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2 }')
    echo "$1: median ratio (vantrel-convert / basenc): $median"
}

make_input Mode Gain Pan Level Tempo Mute Bank Voice Scene Send Port Key
measure ascii
make_input Режим Усиление Панорама Уровень Темп Тишина Банк Голос Сцена Посыл Порт Ключ
measure cyrillic
