#!/usr/bin/env bash
# The property handler through real COM under Wine, from the package folder: regsvr32, then
# CoCreateInstance through the registry on real files, unregistration (twice), and install.cmd
# and uninstall.cmd around the settings of another product, uninstall.cmd after the DLL was
# deleted, then the MSI: install, upgrade to the next version, uninstall. The checks inside
# Windows are the stages of test_RealCom.exe; the registry lives in the build tree's Wine prefix.
# Usage: real_com.sh WINE_RUN PACKAGE_DIR TEST_REALCOM_EXE MSI NEXT_VERSION_MSI
set -euo pipefail
wine_run=$1 package=$2 client=$3 msi=$4 next_msi=$5

windows_path() { local path=${1//\//\\}; printf 'Z:%s' "$path"; }
dll=$(windows_path "$package/Vellumtag_x64.dll")

# Runs a command under Wine and compares its exit status with the expected one.
expect() {
    local want=$1 status=0
    shift
    "$wine_run" "$@" || status=$?
    if [ "$status" -ne "$want" ]; then
        echo "real_com: '$*' exited with $status, expected $want" >&2
        exit 1
    fi
}
# Runs one stage's tests; a stage without tests (misspelt, or not built) fails too.
stage() {
    echo "== $1" >&2
    "$wine_run" "$client" --gtest_list_tests --gtest_filter="$1.*" | grep -q '^  ' ||
        { echo "real_com: no tests in stage $1" >&2; exit 1; }
    expect 0 "$client" --gtest_brief=1 --gtest_filter="$1.*"
}

# A clean start whatever an earlier run left behind: no product installed by an MSI, no keys.
clean() {
    "$wine_run" msiexec /x "$(windows_path "$next_msi")" /qn >/dev/null 2>&1 || true
    "$wine_run" msiexec /x "$(windows_path "$msi")" /qn >/dev/null 2>&1 || true
    "$wine_run" regsvr32 /u /s "$dll" >/dev/null 2>&1 || true
    for key in 'HKLM\SOFTWARE\Vellumtag' 'HKCR\SystemFileAssociations\.pdf' \
        'HKCR\CLSID\{2DA4840E-F01A-44AB-9486-49BD7CC75179}' \
        'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\PropertySystem\PropertyHandlers\.pdf'; do
        "$wine_run" reg delete "$key" /f /reg:64 >/dev/null 2>&1 || true
    done
}
clean

stage BeforeRegistering
expect 0 regsvr32 /s "$dll"
expect 0 regsvr32 /s "$dll" # registering again rewrites the same values
stage Registered
expect 0 regsvr32 /u /s "$dll"
status=0
"$wine_run" regsvr32 /u /s "$dll" || status=$?
if [ "$status" -eq 0 ]; then
    echo "real_com: unregistering twice succeeded" >&2
    exit 1
fi
stage Unregistered

stage BeforeInstall
expect 0 cmd /c "$(windows_path "$package/install.cmd")"
expect 0 cmd /c "$(windows_path "$package/install.cmd")" # twice keeps the saved settings
stage Installed
expect 0 cmd /c "$(windows_path "$package/uninstall.cmd")"
stage Uninstalled

# Our own handler left behind by an install whose record is lost, then the DLL deleted before
# uninstall.cmd runs: our handler is not taken for a previous one, and the class goes anyway.
copy=$(mktemp -d)
trap 'rm -rf "$copy"' EXIT
cp "$package"/*.cmd "$package/Vellumtag_x64.dll" "$copy"
clean
stage OursLeftBehind
expect 0 cmd /c "$(windows_path "$copy/install.cmd")"
rm "$copy/Vellumtag_x64.dll"
expect 0 cmd /c "$(windows_path "$copy/uninstall.cmd")"
stage NothingOfOursLeft

# The MSI over another product's settings: installed, upgraded in place by the next version,
# uninstalled with those settings back.
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
