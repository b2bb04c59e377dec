#!/usr/bin/env bash
# Measures the conversion benchmark of this tree beside that of another
# commit in one run, so that a before/after claim rests on the same machine
# under the same load. The other commit is checked out with `git worktree`
# into a temporary folder and built there with the native preset's flags
# (Release, g++); this tree's build/native is built too. The two benchmark
# programs then run alternately, `rounds` times each. Each round gives every
# conversion's CPU time over the fill floor measured in the same program run;
# the summary gives, per build, path, mix and size, the median of those
# ratios and their range.
#
#   bash bench/side_by_side.sh COMMIT [rounds, default 5 [filter, default '/(1000|1000000)$']]
#
# The filter is a regular expression on the benchmark names after the kind
# (BM_ConvertCommand/ or BM_Floor/), as --benchmark_filter takes it.
set -euo pipefail
cd "$(dirname "$0")/.."
if (($# < 1)); then
    sed -n '2,15p' "$0" >&2
    exit 2
fi
other=$(git rev-parse --short "$1^{commit}")
rounds=${2:-5}
filter=${3:-'/(1000|1000000)$'}

scratch=$(mktemp -d)
cleanup() {
    git worktree remove --force "$scratch/tree" 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT

git worktree add --quiet --detach "$scratch/tree" "$other"
build() { # source folder, build folder
    cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++ >/dev/null
    cmake --build "$2" -j2 --target convert_command_bench >/dev/null
}
echo "side_by_side: building $other and this tree" >&2
build "$scratch/tree" "$scratch/build"
build . build/native

declare -A programs=([this]=build/native/bench/convert_command_bench
    [$other]=$scratch/build/bench/convert_command_bench)
echo "side_by_side: $rounds rounds of this tree and $other; load: $(uptime)"
for ((round = 1; round <= rounds; round++)); do
    for build in this "$other"; do
        "${programs[$build]}" --benchmark_filter="^BM_(ConvertCommand|Floor).*$filter" \
            --benchmark_format=csv 2>/dev/null | sed "s|^|$build,|"
    done
done | awk -F, '
    # Rows: build,"name",iterations,real_time,cpu_time,... One round of one
    # build lists the floors before or after the conversions, so the ratios
    # are taken when the round ends (at the next header line or the end).
    function settle(   key, k, fill) {
        for (key in conversion) {
            split(key, k, " ")
            fill = k[1] " " k[3]
            if (fill in floor) {
                ratios[key] = ratios[key] " " conversion[key] / floor[fill]
            }
        }
        delete conversion; delete floor
    }
    $2 == "name" { settle(); next }
    $2 ~ /^"BM_/ {
        name = $2; gsub(/"/, "", name)
        n = split(name, part, "/")
        mix = part[n - 1] "/" part[n]
        if (part[1] == "BM_Floor") {
            floor[$1 " " mix] = $5
        } else {
            path = n == 4 ? part[2] : "-"
            conversion[$1 " " path " " mix] = $5
        }
    }
    END {
        settle()
        for (key in ratios) {
            count = split(substr(ratios[key], 2), r, " ")
            for (i = 2; i <= count; i++) { # insertion sort
                v = r[i]; for (j = i - 1; j >= 1 && r[j] > v; j--) r[j + 1] = r[j]; r[j + 1] = v
            }
            median = count % 2 ? r[(count + 1) / 2] : (r[count / 2] + r[count / 2 + 1]) / 2
            split(key, k, " ")
            printf "%-8s %-9s %-16s median %5.2f  range %5.2f-%5.2f  (%d rounds)\n",
                k[1], k[2], k[3], median, r[1], r[count], count
        }
    }' | sort -k3,3 -k1,1 -k2,2
