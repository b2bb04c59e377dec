#!/usr/bin/env bash
# Measures vantrel-convert against `basenc --base16` on the same input: about
# 30 MB of short commands ("set Mode 12", about 12 bytes a line), output to
# /dev/null. The two programs run alternately, so that a change in the
# machine's load falls on both; each run's CPU time is user + system time.
# Prints every pair and the median of the ratios, tool over basenc.
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
# A fixed seed, so every run measures the same lines.
awk -v bytes=$((megabytes * 1000 * 1000)) 'BEGIN {
    srand(12)
    split("Mode Gain Pan Level Tempo Mute Bank Voice Scene Send Port Key", words, " ")
    for (size = 0; size < bytes; size += length(line) + 1) {
        line = "set " words[1 + int(rand() * 12)] " " int(rand() * 1000)
        print line
    }
}' >"$input"
echo "tool_vs_basenc: $(wc -l <"$input") lines, $(stat -c %s "$input") bytes; load: $(uptime)"

# The CPU seconds (user + system) of one run of "$@" on the input.
cpu_seconds() {
    local TIMEFORMAT='%3U %3S'
    local times
    times=$({ time "$@" <"$input" >/dev/null; } 2>&1)
    awk '{ printf "%.3f", $1 + $2 }' <<<"$times"
}

ratios=()
for ((i = 1; i <= pairs; i++)); do
    tool_cpu=$(cpu_seconds "$tool")
    basenc_cpu=$(cpu_seconds basenc --base16)
    ratio=$(awk -v t="$tool_cpu" -v b="$basenc_cpu" 'BEGIN { printf "%.2f", t / b }')
    echo "pair $i: vantrel-convert ${tool_cpu} s, basenc ${basenc_cpu} s, ratio $ratio"
    ratios+=("$ratio")
done
median=$(printf '%s\n' "${ratios[@]}" | sort -g | awk '{ r[NR] = $1 }
    END { print (NR % 2) ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2 }')
echo "median ratio (vantrel-convert / basenc): $median"
