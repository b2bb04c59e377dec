#!/usr/bin/env bash
# Checks what the Windows loader reads first in the built program, as
# MinGW-w64's objdump -p shows it: the machine (objdump's file format name),
# the optional header's magic, the subsystem (Windows GUI), and the DLLs it
# imports, which must all ship with Windows (no compiler or class-library
# run-time DLL). objdump does not list delay-loaded DLLs, so the program may
# have none: its delay import directory must be empty.
#
# Usage: pe_headers.sh OBJDUMP PROGRAM FORMAT MAGIC
#   FORMAT: pei-i386 (machine 0x14c) or pei-x86-64 (machine 0x8664)
#   MAGIC:  010b (PE32) or 020b (PE32+)
set -uo pipefail
objdump=$1 program=$2 format=$3 magic=$4

headers=$("$objdump" -p "$program") || {
    echo "FAIL: $objdump -p cannot read $program"
    exit 1
}
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
# The value after a header line's name, such as "Magic  010b  (PE32)".
field() { awk -v name="$1" '$1 == name { print $2; exit }' <<<"$headers"; }

grep -q "file format $format\$" <<<"$headers" ||
    fail "machine: want file format $format; objdump says: $(grep -m1 'file format' <<<"$headers")"
[[ $(field Magic) == "$magic" ]] || fail "optional header magic: want $magic, got '$(field Magic)'"
[[ $(field Subsystem) == 00000002 ]] ||
    fail "subsystem: want 00000002 (Windows GUI), got '$(field Subsystem)'"
delay=$(awk '$1 == "Entry" && $2 == "d" { print $3 }' <<<"$headers")
[[ $delay =~ ^0+$ ]] ||
    fail "delay import directory at '$delay': delay-loaded DLLs, which objdump does not list"

mapfile -t imports < <(awk '$1 == "DLL" && $2 == "Name:" { print $3 }' <<<"$headers")
listed="imports: ${imports[*]}"
lower=$(printf '%s\n' "${imports[@]}" | tr '[:upper:]' '[:lower:]')
for needed in kernel32.dll user32.dll; do
    grep -qx "$needed" <<<"$lower" || fail "$needed is not among the $listed"
done
# DLLs that are part of every Windows installation.
system=" advapi32.dll bcrypt.dll comctl32.dll comdlg32.dll crypt32.dll dwmapi.dll gdi32.dll
 imm32.dll kernel32.dll msimg32.dll msvcrt.dll ntdll.dll ole32.dll oleaut32.dll psapi.dll
 rpcrt4.dll secur32.dll shell32.dll shlwapi.dll user32.dll uxtheme.dll version.dll winmm.dll
 winspool.drv ws2_32.dll "
for dll in $lower; do
    case $dll in
    libstdc++* | libgcc_s* | libwinpthread* | mfc* | msvcp* | vcruntime*)
        fail "$dll is a compiler or class-library run-time DLL; $listed"
        ;;
    esac
    [[ $system == *[[:space:]]$dll[[:space:]]* ]] ||
        fail "$dll is not a DLL that ships with Windows; $listed"
done

((failures == 0)) && echo "$program: $format, magic $magic, Windows GUI; $listed"
exit $((failures > 0))
