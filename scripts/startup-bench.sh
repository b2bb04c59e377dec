#!/usr/bin/env bash
# Measures Vantrel's start-up cost against the floor program (the same dialog
# and manifest, nothing else): builds Vantrel, startup_floor and
# startup_bench in the windows preset, runs startup_bench under Wine on a
# virtual display of its own and prints its figures, then the DLLs each
# program imports.
#
#   bash scripts/startup-bench.sh [starts of each program, at least 10; default 15]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-15}

scripts/setup.sh
source scripts/wine-env.sh
source scripts/progress.sh
trap vantrel_stop_display EXIT
# Always a virtual display, even when there is a desktop: the figures should
# not depend on it, and dozens of dialogs should not flash on it.
unset DISPLAY
vantrel_start_display
vantrel_prepare_wine

build_programs() {
    cmake --preset windows &&
        cmake --build --preset windows --target Vantrel startup_floor startup_bench
}
vantrel_progress "startup-bench: building" build/startup-bench-build.log ninja build_programs

vantrel=build/windows/Vantrel.exe
floor=build/windows/bench/startup/startup_floor.exe
echo "startup-bench: $runs starts of each program under $(wine --version) on display $DISPLAY"
wine build/windows/bench/startup/startup_bench.exe --runs "$runs" \
    "$(winepath -w "$PWD/$vantrel")" "$(winepath -w "$PWD/$floor")"

echo
for exe in "$vantrel" "$floor"; do
    echo "$(basename "$exe"): $(stat -c %s "$exe") bytes, imports" \
        "$(i686-w64-mingw32-objdump -p "$exe" | awk '/DLL Name/ {print $3}' | tr '\n' ' ')"
done
