#!/usr/bin/env bash
# Builds the release packages into build/packages/: the .deb of
# vantrel-convert from the native preset, and the Windows zips
# vantrel-<version>-win32.zip and -win64.zip from the windows and windows64
# presets. Sets up and builds first (what is built already is kept); CPack
# makes each package (see cmake/Packaging.cmake).
set -euo pipefail
shopt -s nullglob
cd "$(dirname "$0")/.."
started=$SECONDS

source scripts/progress.sh

configure_and_build() {
    cmake --preset "$1" && cmake --build --preset "$1" -j "$(nproc)"
}

scripts/setup.sh
out=build/packages
rm -rf "$out"
mkdir -p "$out"
for preset in native windows windows64; do
    echo "=== package: $preset"
    vantrel_progress "package: building $preset" "build/package-$preset-build.log" ninja \
        configure_and_build "$preset"
    rm -rf "build/$preset/packages"
    cpack --config "build/$preset/CPackConfig.cmake"
    made=(build/"$preset"/packages/*.deb build/"$preset"/packages/*.zip)
    if ((${#made[@]} != 1)); then
        echo "package: expected one package from $preset, found: ${made[*]}" >&2
        exit 1
    fi
    cp "${made[@]}" "$out"/
done
ls -l "$out"
echo "package: done in $(vantrel_progress_elapsed $((SECONDS - started)))"
