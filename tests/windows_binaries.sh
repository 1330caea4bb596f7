#!/usr/bin/env bash
# The Windows binaries import system DLLs only (the C++ runtime, winpthread, zlib and the stack
# protector's libssp are linked in), are hardened (ASLR, with high entropy on x64; DEP; a stack
# protector), and the COM server exports its four entry points undecorated (on x86 too, where
# its stdcall symbols carry a suffix).
# Usage: windows_binaries.sh OBJDUMP HANDLER_DLL [BINARY ...] (unstripped, as built)
set -euo pipefail
objdump=$1 dll=$2
shift 2
system_dlls='^(kernel32|advapi32|bcrypt|ole32|oleaut32|propsys|shlwapi|user32|msvcrt)\.dll$'
failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }

for binary in "$dll" "$@"; do
    name=$(basename "$binary")
    headers=$("$objdump" -p "$binary")
    imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers")
    echo "$name imports: $(echo $imports)"
    while read -r import; do
        grep -qiE "$system_dlls" <<<"$import" || fail "$name needs $import"
    done <<<"$imports"
    # High-entropy ASLR is a flag of 64-bit images (PE32+) only.
    flags="DYNAMIC_BASE NX_COMPAT"
    if grep -qE '^Magic\s+020b' <<<"$headers"; then
        flags+=" HIGH_ENTROPY_VA"
    elif grep -qE '^Magic\s+010b' <<<"$headers"; then
        ! grep -qE "^\s+HIGH_ENTROPY_VA\$" <<<"$headers" || fail "$name, 32-bit, has HIGH_ENTROPY_VA"
    else
        fail "$name is neither PE32 nor PE32+"
    fi
    for flag in $flags; do
        grep -qE "^\s+$flag\$" <<<"$headers" || fail "$name lacks $flag"
    done
    grep -q "__stack_chk_fail" <<<"$("$objdump" -t "$binary")" || fail "$name has no stack protector"
done

exports=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^\s*\[ *[0-9]*\] //p' | sort | tr '\n' ' ')
expected='DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer '
[ "$exports" = "$expected" ] || fail "exports are '$exports', expected '$expected'"

if [ "$failures" -ne 0 ]; then
    exit 1
fi
echo "windows binaries: passed"
