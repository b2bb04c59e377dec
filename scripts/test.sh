#!/usr/bin/env bash
# Sets up, builds and runs every test of Vantrel: the native build, the
# native build under AddressSanitizer and UndefinedBehaviorSanitizer, a
# bounded libFuzzer run, the tool against a real kernel's ALSA sequencer in
# QEMU (tests/kernel/run.sh), and the 32-bit and 64-bit Windows builds under
# Wine on a virtual display. Then it makes the release packages and checks them
# (scripts/package.sh, scripts/check-packages.sh). Warnings are errors here,
# and unformatted code fails. Each build's output is in
# build/PRESET-build.log; its progress is shown while it runs.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
source scripts/wine-env.sh
source scripts/progress.sh
trap vantrel_stop_display EXIT

fuzz_seconds=${VANTREL_FUZZ_SECONDS:-60}
jobs=$(nproc)

configure_and_build() {
    local preset=$1
    shift
    cmake --preset "$preset" -DVANTREL_WERROR=ON "$@" && cmake --build --preset "$preset" -j "$jobs"
}

# Builds a preset with its progress shown; the output is in
# build/PRESET-build.log.
build_preset() {
    vantrel_progress "test: building $1" "build/$1-build.log" ninja configure_and_build "$@"
}

run_preset() {
    local preset=$1
    shift
    echo "=== $preset"
    build_preset "$preset" "$@"
    ctest --preset "$preset" -j "$jobs"
}

echo "=== format"
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
echo "all C++ sources are formatted with .clang-format"

run_preset native
echo "=== kernel (ALSA sequencer of a real kernel, in QEMU)"
bash tests/kernel/run.sh build/native/cli/vantrel-convert
run_preset native-sanitize
run_preset fuzz -DVANTREL_FUZZ_SECONDS="$fuzz_seconds"

# Always a virtual display of its own, so no one's desktop gets in the way.
# The 32-bit and the 64-bit Windows builds run on it, each in its own prefix.
vantrel_start_display own
run_windows() {
    local preset=$1 bits=$2
    vantrel_use_wine "$bits"
    vantrel_prepare_wine
    echo "=== $preset ($(wine --version), DISPLAY=$DISPLAY)"
    build_preset "$preset"
    ctest --preset "$preset" -N -V | grep -E "Test command:" | sed "s/^/$preset: /"
    ctest --preset "$preset"
}
run_windows windows 32
run_windows windows64 64

echo "=== packages"
scripts/package.sh
scripts/check-packages.sh
