#!/usr/bin/env bash
# Installs what building and testing Vantrel needs on Debian 12, as root (or
# through sudo), skipping what is already there: the native tool chain,
# GoogleTest, Google Benchmark, clang for the fuzzer, the JACK and ALSA
# libraries that vantrel-convert sends MIDI through (and a JACK server with
# jack_midi_dump for its tests), QEMU (qemu-user runs the conversion tests on
# a processor without AVX2), busybox, kmod, cpio and xz for the test
# that boots Debian's kernel to send through its ALSA sequencer, MinGW-w64 for
# 32-bit and 64-bit Windows, 32-bit and 64-bit Wine with Wine's fonts, Xvfb,
# wrestool and xmllint for reading the Windows program's manifest, and what
# packaging needs (dpkg-dev, file, lintian, man-db, unzip).
#
# On a fresh machine this is the longest step: about 300 packages, most of
# them Wine's and MinGW-w64's. The download takes what the mirror takes, and
# unpacking and setting up the packages about a minute or two on two cores.
# Progress is shown as it goes; apt's output is in build/apt-update.log and
# build/apt-install.log.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/progress.sh

packages=(git cmake ninja-build g++ clang-format googletest libgtest-dev libbenchmark-dev clang
          libclang-rt-14-dev pkg-config libjack-jackd2-dev libasound2-dev jackd2
          qemu-system-x86 qemu-user busybox-static kmod cpio xz-utils
          g++-mingw-w64-i686-posix mingw-w64-i686-dev
          wine wine32 xvfb xauth x11-utils imagemagick
          g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine64 fonts-wine icoutils libxml2-utils
          dpkg-dev file lintian man-db unzip)

missing=()
for p in "${packages[@]}"; do
    arch_p=$p
    [[ $p == wine32 ]] && arch_p=wine32:i386
    dpkg-query -W -f='${Status}' "$arch_p" 2>/dev/null | grep -q 'install ok installed' ||
        missing+=("$arch_p")
done
if ((${#missing[@]} == 0)); then
    exit 0
fi

sudo=()
if [[ $(id -u) -ne 0 ]]; then
    sudo=(sudo)
    # Any password is asked for now, not under the progress line.
    sudo -v
fi
echo "setup: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo[@]}" dpkg --add-architecture i386
fi
vantrel_progress "setup: updating the package lists" build/apt-update.log lines \
    "${sudo[@]}" apt-get update
# jackd2 would ask whether to allow real-time priority; the tests need none.
echo "jackd2 jackd/tweak_rt_limits boolean false" | "${sudo[@]}" debconf-set-selections
# apt's status lines (on standard error, into the log) tell how far it is.
vantrel_progress "setup: installing ${#missing[@]} packages and what they need" build/apt-install.log \
    apt "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    -o APT::Status-Fd=2 "${missing[@]}"
