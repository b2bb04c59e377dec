#!/usr/bin/env bash
# Measures the conversion benchmark of this tree beside that of another
# commit in one run, so that a before/after claim rests on the same machine
# under the same load. The other commit is checked out with `git worktree`
# into a temporary folder and built there with the native preset's flags
# (Release, g++), with this tree's benchmark program in place of its own,
# so that both builds are measured the same way; this tree's build/native
# is built too. The two programs then run alternately, `rounds` times each.
# Each round gives every conversion's time over the fill floor, timed in
# alternating stretches (BM_OverFloor); the summary gives, per build, path,
# mix and size, the median of those ratios and their range.
#
#   bash bench/side_by_side.sh COMMIT [rounds, default 5 [filter, default '/(1000|1000000)$']]
#
# The filter is a regular expression on the benchmark names after
# BM_OverFloor/, as --benchmark_filter takes it.
set -euo pipefail
cd "$(dirname "$0")/.."
if (($# < 1)); then
    sed -n '2,16p' "$0" >&2
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
cp bench/convert_command_bench.cpp "$scratch/tree/bench/"
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
# The manual-time rows end in /manual_time, which the filter's $ must allow.
for ((round = 1; round <= rounds; round++)); do
    for build in this "$other"; do
        "${programs[$build]}" --benchmark_filter="^BM_OverFloor.*${filter%\$}(/manual_time)?\$" \
            --benchmark_format=csv 2>/dev/null | sed "s|^|$build,|"
    done
done | awk -F, '
    # Rows: build,"name",iterations,...,over_floor,... as the header names
    # the columns.
    $2 == "name" { for (i = 1; i <= NF; i++) if ($i ~ /^"?over_floor"?$/) column = i; next }
    $2 ~ /^"BM_OverFloor/ {
        name = $2; gsub(/"/, "", name); sub(/\/manual_time$/, "", name)
        split(name, part, "/")
        key = $1 " " part[2] " " part[3] "/" part[4]
        ratios[key] = ratios[key] " " $column
    }
    END {
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
