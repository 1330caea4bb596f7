#!/usr/bin/env bash
# The property handler through real COM under Wine, from the package folder: regsvr32, then
# CoCreateInstance through the registry on real files, unregistration (twice), and install.cmd
# and uninstall.cmd around the settings of another product. The checks inside Windows are
# the stages of test_RealCom.exe; the registry lives in the build tree's Wine prefix.
# Usage: real_com.sh WINE_RUN PACKAGE_DIR TEST_REALCOM_EXE
set -euo pipefail
wine_run=$1 package=$2 client=$3

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
stage() { echo "== $1" >&2; expect 0 "$client" --gtest_brief=1 --gtest_filter="$1.*"; }

# A clean start whatever an earlier run left behind.
"$wine_run" regsvr32 /u /s "$dll" || true
for key in 'HKLM\SOFTWARE\Vellumtag' 'HKCR\SystemFileAssociations\.pdf' \
    'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\PropertySystem\PropertyHandlers\.pdf'; do
    "$wine_run" reg delete "$key" /f /reg:64 >/dev/null 2>&1 || true
done

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
echo "real_com: passed"
