#!/usr/bin/env bash
# Measures the start-up of `vantrel-convert 'set x'` against a one-line C++
# program built and linked as the tool is (bench/startup_hello.cpp, the
# native build's startup_hello: same compiler, flags and C++ runtime), with
# `basenc --base16` on the same command as a second yardstick. A run that
# only converts loads no MIDI library, so what is left is the program's own
# start-up and the C++ runtime's.
#
# The programs run alternately, in batches of RUNS starts each (wall time),
# so a change in the machine's load falls on all three. Prints each pair's
# ratios and their medians.
#
#   bash bench/startup_vs_hello.sh [build dir; default build/native [pairs, at least 5; default 31 [runs; default 20]]]
#
# VANTREL_CONVERT names another vantrel-convert to time against the build's
# one-line program (an older build, say).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
pairs=${2:-31}
runs=${3:-20}
tool=${VANTREL_CONVERT:-$build/cli/vantrel-convert}
hello=$build/bench/startup_hello
for program in "$tool" "$hello"; do
    if [[ ! -x $program ]]; then
        echo "startup_vs_hello: no $program (build the native preset first)" >&2
        exit 1
    fi
done
if ((pairs < 5)); then
    echo "startup_vs_hello: at least 5 pairs" >&2
    exit 1
fi
input=$(mktemp)
trap 'rm -f "$input"' EXIT
echo 'set x' >"$input"

# The wall time, in microseconds, of `runs` starts of "$@".
batch() {
    local start end i
    start=$(date +%s%N)
    for ((i = 0; i < runs; i++)); do
        "$@" <"$input" >/dev/null
    done
    end=$(date +%s%N)
    echo $(((end - start) / 1000 / runs))
}

median() {
    sort -g | awk '{ r[NR] = $1 } END { print (NR % 2) ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2 }'
}

echo "startup_vs_hello: $pairs pairs of $runs starts each; load: $(uptime)"
echo "libraries of vantrel-convert: $(ldd "$tool" | awk '{ print $1 }' | tr '\n' ' ')"
batch "$tool" 'set x' >/dev/null # the files into the page cache
tool_us=() hello_us=() basenc_us=() vs_hello=() vs_basenc=()
for ((i = 1; i <= pairs; i++)); do
    t=$(batch "$tool" 'set x')
    h=$(batch "$hello")
    b=$(batch basenc --base16)
    tool_us+=("$t") hello_us+=("$h") basenc_us+=("$b")
    vs_hello+=("$(awk -v t="$t" -v h="$h" 'BEGIN { printf "%.3f", t / h }')")
    vs_basenc+=("$(awk -v t="$t" -v b="$b" 'BEGIN { printf "%.3f", t / b }')")
    echo "pair $i: vantrel-convert $t us, one-line C++ $h us, basenc $b us;" \
        "ratios ${vs_hello[-1]}, ${vs_basenc[-1]}"
done
echo "medians: vantrel-convert $(printf '%s\n' "${tool_us[@]}" | median) us," \
    "one-line C++ $(printf '%s\n' "${hello_us[@]}" | median) us," \
    "basenc $(printf '%s\n' "${basenc_us[@]}" | median) us"
echo "median ratio, vantrel-convert / one-line C++: $(printf '%s\n' "${vs_hello[@]}" | median)"
echo "median ratio, vantrel-convert / basenc: $(printf '%s\n' "${vs_basenc[@]}" | median)"
