#!/usr/bin/env bash
# The Windows binaries import system DLLs only (the C++ runtime, winpthread and zlib are
# linked in), and the COM server exports its four entry points undecorated.
# Usage: windows_binaries.sh OBJDUMP EXE DLL
set -euo pipefail
objdump=$1 exe=$2 dll=$3
system_dlls='^(kernel32|advapi32|bcrypt|ole32|oleaut32|propsys|shlwapi|user32|msvcrt)\.dll$'
failures=0

for binary in "$exe" "$dll"; do
    imports=$("$objdump" -p "$binary" | sed -n 's/^\s*DLL Name: //p')
    echo "$(basename "$binary") imports: $(echo $imports)"
    while read -r name; do
        if ! grep -qiE "$system_dlls" <<<"$name"; then
            echo "FAILED: $(basename "$binary") needs $name" >&2
            failures=$((failures + 1))
        fi
    done <<<"$imports"
done

exports=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^\s*\[ *[0-9]*\] //p' | sort | tr '\n' ' ')
expected='DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer '
if [ "$exports" != "$expected" ]; then
    echo "FAILED: exports are '$exports', expected '$expected'" >&2
    failures=$((failures + 1))
fi

if [ "$failures" -ne 0 ]; then
    exit 1
fi
echo "windows binaries: passed"
