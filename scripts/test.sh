#!/usr/bin/env bash
# Sets up, builds and runs every test of Vantrel: the native build, the
# native build under AddressSanitizer and UndefinedBehaviorSanitizer, a
# bounded libFuzzer run, the tool against a real kernel's ALSA sequencer in
# QEMU (tests/kernel/run.sh), and the 32-bit and 64-bit Windows builds under
# Wine on a virtual display, the 32-bit one's WinMM in QEMU too. Then it makes
# the release packages and checks them (scripts/package.sh,
# scripts/check-packages.sh). Warnings are errors here, and unformatted code
# fails.
#
# Every step whose inputs were built runs, even after another step failed; the
# run ends with one summary naming each step that failed or could not run, and
# exits 1 if there is any. Each step's output is in a log under build/
# (build/PRESET-build.log, build/PRESET-test.log, ...), and its progress is
# shown while it runs: on a terminal one redrawn line, in a pipe a line every
# 10 seconds naming what is running.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS

scripts/setup.sh
source scripts/wine-env.sh
source scripts/progress.sh
trap vantrel_stop_display EXIT

fuzz_seconds=${VANTREL_FUZZ_SECONDS:-60}
jobs=$(nproc)

# The steps that passed, that failed, and that could not run.
declare -A passed=()
failed=()
not_run=()

# Runs a step: NAME COMMAND [ARGUMENT...]. A failure is noted, and the run
# goes on. The commands of a step run with errexit off (they are tested), so
# each chains its own commands with &&.
step() {
    local name=$1 status=0
    shift
    echo "=== $name"
    "$@" || status=$?
    if ((status == 0)); then
        passed[$name]=1
    else
        failed+=("$name (status $status)")
    fi
}

# Runs a step only when every step it needs passed: NEEDS NAME COMMAND
# [ARGUMENT...], NEEDS being step names separated by commas.
step_after() {
    local needs need
    IFS=, read -ra needs <<<"$1"
    shift
    for need in "${needs[@]}"; do
        if [[ -z ${passed[$need]:-} ]]; then
            not_run+=("$1 (needs $need)")
            return 0
        fi
    done
    step "$@"
}

check_format() {
    git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror &&
        echo "all C++ sources are formatted with .clang-format"
}

configure_and_build() {
    local preset=$1
    shift
    cmake --preset "$preset" -DVANTREL_WERROR=ON "$@" && cmake --build --preset "$preset" -j "$jobs"
}

# Builds a preset; the output is in build/PRESET-build.log.
build_preset() {
    vantrel_progress "test: building $1" "build/$1-build.log" ninja configure_and_build "$@"
}

# Runs a preset's tests; the output is in build/PRESET-test.log.
test_preset() {
    vantrel_progress "test: testing $1" "build/$1-test.log" ctest with_own_shm ctest --preset "$@"
}

# Runs a command with a /dev/shm of its own where it may (as root): the JACK
# tests' servers and clients keep their registry, segments and metadata
# database there, shared by every JACK user of the machine, and a process
# killed while it wrote them leaves them broken for every later one.
#
# The tmpfs is mounted in a mount namespace of the command's own, and must
# not spread from there to the machine: a mount made under a shared mount is
# made under each of its peers too, and a chroot's /dev/shm may be a shared
# bind of the host's. Where / is a mount point, every mount of the namespace
# is made private. In a plain chroot it is not (making / private fails), so
# the deepest mount holding /dev/shm (/dev/shm itself, or /dev) is made
# private instead. Where no mount can be (/dev/shm is only a folder of the
# chroot's, or no mount namespace can be made, as in a container without
# CAP_SYS_ADMIN), the command runs on the shared /dev/shm, and says so.
with_own_shm() {
    if ((EUID != 0)) || ! command -v unshare >/dev/null; then
        "$@"
        return
    fi
    local shared="with_own_shm: running on the shared /dev/shm"
    if ! unshare --mount --propagation unchanged true 2>/dev/null; then
        echo "$shared: no mount namespace can be made here" >&2
        "$@"
        return
    fi
    # shellcheck disable=SC2016 # the bash in the namespace expands them
    unshare --mount --propagation unchanged -- bash -c '
        shared=$1
        shift
        if ! mount --make-rprivate / 2>/dev/null; then
            holder=$(readlink -f /dev/shm)
            until mount --make-rprivate "$holder" 2>/dev/null; do
                if [[ $holder == / ]]; then
                    echo "$shared: in this chroot no mount holding /dev/shm can be made private" >&2
                    exec "$@"
                fi
                holder=$(dirname "$holder")
            done
        fi
        mount -t tmpfs -o mode=1777 vantrel-shm /dev/shm || echo "$shared: mounting a tmpfs failed" >&2
        exec "$@"' bash "$shared" "$@"
}

# Under Wine, each Windows preset in its own prefix, on this run's display.
# When the tests fail, the display is checked again: if Xvfb died during
# them, its output is shown.
test_windows() {
    local preset=$1 bits=$2 status=0
    vantrel_use_wine "$bits" && vantrel_prepare_wine && vantrel_check_display &&
        echo "$preset: $(wine --version), DISPLAY=$DISPLAY" || return
    test_preset "$preset" || status=$?
    ((status == 0)) || vantrel_check_display || true
    return "$status"
}

step format check_format

step "native build" build_preset native
step_after "native build" "native tests" test_preset native -j "$jobs"
step_after "native build" "kernel (ALSA sequencer of a real kernel, in QEMU)" \
    vantrel_progress "test: kernel" build/kernel-test.log lines \
    bash tests/kernel/run.sh build/native/cli/vantrel-convert

step "native-sanitize build" build_preset native-sanitize
step_after "native-sanitize build" "native-sanitize tests" test_preset native-sanitize -j "$jobs"

step "fuzz build" build_preset fuzz -DVANTREL_FUZZ_SECONDS="$fuzz_seconds"
step_after "fuzz build" "fuzz tests" test_preset fuzz -j "$jobs"

# Always a virtual display of its own, so no one's desktop gets in the way.
# The 32-bit and the 64-bit Windows builds run on it, each in its own prefix.
step "virtual display" vantrel_start_display own
step "windows build" build_preset windows
step_after "windows build,virtual display" "windows tests" test_windows windows 32
step_after "windows build" "kernel, Windows (WinMM through Wine's ALSA MIDI driver, in QEMU)" \
    vantrel_progress "test: kernel, Windows" build/kernel-windows-test.log lines \
    bash tests/kernel/run.sh --windows build/windows/cli/vantrel-convert.exe
step "windows64 build" build_preset windows64
step_after "windows64 build,virtual display" "windows64 tests" test_windows windows64 64

step_after "native build,windows build,windows64 build" packages \
    vantrel_progress "test: making the packages" build/packages.log lines scripts/package.sh
step_after "packages,virtual display" "package checks" \
    vantrel_progress "test: checking the packages" build/package-checks.log lines \
    scripts/check-packages.sh

elapsed=$(vantrel_progress_elapsed $((SECONDS - started)))
if ((${#failed[@]} + ${#not_run[@]} == 0)); then
    echo "test: every step passed in $elapsed"
    exit 0
fi
{
    echo "test: finished in $elapsed; ${#failed[@]} steps failed, ${#not_run[@]} could not run:"
    printf '  failed: %s\n' "${failed[@]}"
    printf '  not run: %s\n' "${not_run[@]}"
} | grep -v ': $' >&2
exit 1
