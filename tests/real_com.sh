#!/usr/bin/env bash
# The property handler through real COM under Wine, from the package folder, for 64-bit and
# 32-bit programs: regsvr32 of each bitness, then CoCreateInstance through the registry on real
# files by a client of each bitness (the same properties from both), unregistration of each
# view (twice) leaving the other, and install.cmd and uninstall.cmd around the settings of
# another product, uninstall.cmd after the DLLs were deleted, then the MSI: install, upgrade to
# the next version, uninstall. The checks inside Windows are the stages of test_RealCom.exe,
# built for x64 and x86; each reads its own registry view. The registry lives in the build
# tree's Wine prefix, a 64-bit one that runs 32-bit programs too (wine32).
# Usage: real_com.sh WINE_RUN PACKAGE_DIR TEST_REALCOM_EXE TEST_REALCOM_X86_EXE MSI
#                    NEXT_VERSION_MSI
set -euo pipefail
wine_run=$1 package=$2 client64=$3 client32=$4 msi=$5 next_msi=$6

windows_path() { local path=${1//\//\\}; printf 'Z:%s' "$path"; }
dll64=$(windows_path "$package/Vellumtag_x64.dll")
dll32=$(windows_path "$package/Vellumtag_x86.dll")
regsvr64='C:\windows\system32\regsvr32.exe'
regsvr32='C:\windows\syswow64\regsvr32.exe'

# The keys of the handler in both views, for the log of a failure.
show_registry() {
    local view key
    for view in 64 32; do
        echo "-- registry, $view-bit view" >&2
        for key in 'HKLM\SOFTWARE\Vellumtag' 'HKCR\SystemFileAssociations\.pdf' \
            'HKCR\CLSID\{2DA4840E-F01A-44AB-9486-49BD7CC75179}' \
            'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\PropertySystem\PropertyHandlers\.pdf'; do
            "$wine_run" reg query "$key" /s "/reg:$view" >&2 2>&1 || true
        done
    done
}

# Runs a command under Wine and compares its exit status with the expected one ("fail": any
# but 0).
expect() {
    local want=$1 status=0
    shift
    "$wine_run" "$@" || status=$?
    if [ "$want" = fail ] && [ "$status" -ne 0 ]; then
        return 0
    fi
    if [ "$status" != "$want" ]; then
        echo "real_com: '$*' exited with $status, expected $want" >&2
        show_registry
        exit 1
    fi
}
# Runs one stage's tests in the clients given (64, 32 or both); a stage without tests
# (misspelt, or not built) fails too.
client() { if [ "$1" = 32 ]; then echo "$client32"; else echo "$client64"; fi; }
stage() {
    local name=$1 bits client
    shift
    [ $# -gt 0 ] || set -- 64 32
    for bits in "$@"; do
        client=$(client "$bits")
        echo "== $name ($bits-bit client)" >&2
        "$wine_run" "$client" --gtest_list_tests --gtest_filter="$name.*" | grep -q '^  ' ||
            { echo "real_com: no tests in stage $name" >&2; exit 1; }
        expect 0 "$client" --gtest_brief=1 --gtest_filter="$name.*"
    done
}

# A clean start whatever an earlier run left behind: no product installed by an MSI, no keys
# in either view. Wine, like Windows, shares HKCR\SystemFileAssociations between the views for
# 32-bit programs, but only until a 64-bit program writes it in the 32-bit view (reg /reg:32,
# the MSI's 32-bit component), which makes a 32-bit copy of it from then on; so that every run
# sees the same views, the prefix gets that copy first.
clean() {
    "$wine_run" msiexec /x "$(windows_path "$next_msi")" /qn >/dev/null 2>&1 || true
    "$wine_run" msiexec /x "$(windows_path "$msi")" /qn >/dev/null 2>&1 || true
    "$wine_run" "$regsvr64" /u /s "$dll64" >/dev/null 2>&1 || true
    "$wine_run" "$regsvr32" /u /s "$dll32" >/dev/null 2>&1 || true
    for view in 64 32; do
        for key in 'HKLM\SOFTWARE\Vellumtag' 'HKCR\SystemFileAssociations\.pdf' \
            'HKCR\CLSID\{2DA4840E-F01A-44AB-9486-49BD7CC75179}' \
            'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\PropertySystem\PropertyHandlers\.pdf'; do
            "$wine_run" reg delete "$key" /f "/reg:$view" >/dev/null 2>&1 || true
        done
    done
    "$wine_run" reg add 'HKCR\SystemFileAssociations' /f /reg:32 >/dev/null
}
clean

stage BeforeRegistering
expect 0 "$regsvr64" /s "$dll64"
expect 0 "$regsvr64" /s "$dll64" # registering again rewrites the same values
expect 0 "$regsvr32" /s "$dll32"
expect 0 "$regsvr32" /s "$dll32"
stage Registered

# Both clients read the same properties from every sample and test file.
dumps=$(mktemp -d)
trap 'rm -rf "$dumps"' EXIT
for bits in 64 32; do
    VELLUMTAG_PROPERTY_DUMP=$(windows_path "$dumps/$bits.txt") \
        expect 0 "$(client "$bits")" --gtest_brief=1 --gtest_filter='PropertyDump.*'
done
if ! cmp -s "$dumps/64.txt" "$dumps/32.txt"; then
    echo "real_com: the x86 handler reads otherwise than the x64 one:" >&2
    diff "$dumps/64.txt" "$dumps/32.txt" >&2 || true
    exit 1
fi

# Each DLL unregisters its own view only.
expect 0 "$regsvr64" /u /s "$dll64"
expect fail "$regsvr64" /u /s "$dll64"
stage Unregistered 64
stage Registered 32
expect 0 "$regsvr32" /u /s "$dll32"
expect fail "$regsvr32" /u /s "$dll32"
stage Unregistered 32

stage BeforeInstall
expect 0 cmd /c "$(windows_path "$package/install.cmd")"
expect 0 cmd /c "$(windows_path "$package/install.cmd")" # twice keeps the saved settings
stage Installed
expect 0 cmd /c "$(windows_path "$package/uninstall.cmd")"
stage Uninstalled

# Our own handler left behind by an install whose record is lost, then the DLLs deleted before
# uninstall.cmd runs: our handler is not taken for a previous one, and the class goes anyway.
copy=$(mktemp -d)
trap 'rm -rf "$dumps" "$copy"' EXIT
cp "$package"/*.cmd "$package/Vellumtag_x64.dll" "$package/Vellumtag_x86.dll" "$copy"
clean
stage OursLeftBehind
expect 0 cmd /c "$(windows_path "$copy/install.cmd")"
rm "$copy/Vellumtag_x64.dll" "$copy/Vellumtag_x86.dll"
expect 0 cmd /c "$(windows_path "$copy/uninstall.cmd")"
stage NothingOfOursLeft

# The MSI over another product's settings: installed, upgraded in place by the next version,
# uninstalled with those settings back, in both views.
clean
stage BeforeInstall
expect 0 msiexec /i "$(windows_path "$msi")" /qn
stage Installed
stage InstalledByMsi
expect 0 msiexec /i "$(windows_path "$next_msi")" /qn
stage Installed
stage UpgradedByMsi
expect 0 msiexec /x "$(windows_path "$next_msi")" /qn
stage Uninstalled
stage UninstalledByMsi
clean
echo "real_com: passed"
