#!/usr/bin/env bash
# The Windows binaries import system DLLs only (the C++ runtime, winpthread, zlib and the stack
# protector's libssp are linked in), are hardened (ASLR with high entropy, DEP, a stack
# protector), and the COM server exports its four entry points undecorated.
# Usage: windows_binaries.sh OBJDUMP EXE DLL ACTIONS_DLL (unstripped, as built)
set -euo pipefail
objdump=$1 exe=$2 dll=$3 actions=$4
system_dlls='^(kernel32|advapi32|bcrypt|ole32|oleaut32|propsys|shlwapi|user32|msvcrt)\.dll$'
failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }

for binary in "$exe" "$dll" "$actions"; do
    name=$(basename "$binary")
    headers=$("$objdump" -p "$binary")
    imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers")
    echo "$name imports: $(echo $imports)"
    while read -r import; do
        grep -qiE "$system_dlls" <<<"$import" || fail "$name needs $import"
    done <<<"$imports"
    for flag in HIGH_ENTROPY_VA DYNAMIC_BASE NX_COMPAT; do
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
