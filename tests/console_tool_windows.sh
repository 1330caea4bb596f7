#!/usr/bin/env bash
# Vellumtag.exe under Wine: its own wildcard expansion (Windows passes patterns unexpanded),
# UTF-8 bytes when redirected, and on a console (Wine makes a terminal one) the text as written
# whatever the code page, which is left as it was. Usage: console_tool_windows.sh WINE_RUN VELLUMTAG_EXE SAMPLES_DIR
set -euo pipefail
wine_run=$1 exe=$2 samples=$3
samples_windows="Z:${samples//\//\\}"
failures=0
check() { # description, expected count, pattern (fixed string)
    local count
    count=$(grep -cF -- "$3" <<<"$output" || true)
    if [ "$count" -ne "$2" ]; then
        echo "FAILED: $1: '$3' seen $count times, expected $2" >&2
        failures=$((failures + 1))
    fi
}

output=$("$wine_run" "$exe" "$samples_windows\\*.pdf" "$samples_windows\\hell?.pdf" \
    "$samples_windows\\none*.pdf" --PAUSE-AT-END </dev/null)
check "one header per match" 6 "Filename: "
check "matches keep the pattern's folder" 2 "Filename: $samples_windows\\hello.pdf"
check "all four samples" 1 "Filename: $samples_windows\\xmp-only.pdf"
check "no match: the pattern as typed" 1 "Filename: $samples_windows\\none*.pdf"
check "no match: its error" 1 "Error: 100: File does not exists or can't be read"
check "UTF-8 title" 1 "Title => Ünïcødé — 日本語のタイトル 📚"
check "Latin-1 string as UTF-8" 1 "Author => José Martínez"
check "pause at the end" 1 "Press any key to continue..."

# A tree walked on two threads: JSON lines in the order of one, UTF-8 as on Linux.
output=$("$wine_run" "$exe" --json --jobs 2 -r "$samples_windows" </dev/null)
serial=$("$wine_run" "$exe" --json --jobs 1 -r "$samples_windows" </dev/null)
[ "$output" = "$serial" ] || { echo "FAILED: --jobs 2 differs from --jobs 1" >&2; failures=$((failures + 1)); }
check "one JSON line per sample" "$(find "$samples" -iname '*.pdf' | wc -l)" '{"file":"'
check "JSON title" 1 '"Title":"Ünïcødé — 日本語のタイトル 📚"'

status=0
"$wine_run" "$exe" >/dev/null || status=$?
[ "$status" -eq 100 ] || { echo "FAILED: no arguments exited $status, not 100" >&2; failures=$((failures + 1)); }

# On a terminal, from a command prompt set to code page 850, which has neither Greek nor
# Japanese: the tool writes UTF-16 to the console, which the terminal shows as UTF-8, and the
# prompt still has code page 850 afterwards. (Wine's terminal console shows a character beyond
# U+FFFF as two U+FFFD, so the title's last character is not checked.)
# script(1) gives the console a terminal; the CR it shows before each line end is dropped.
batch=$(mktemp --suffix=.cmd)
trap 'rm -f "$batch"' EXIT
printf '@echo off\r\nchcp 850\r\n"Z:%s" "%s\\unicode-title.pdf"\r\nchcp\r\n' \
    "${exe//\//\\}" "$samples_windows" >"$batch"
output=$(timeout 120 script -qec "$wine_run cmd /c 'Z:${batch//\//\\}'" /dev/null </dev/null |
    tr -d '\r')
check "code page before and after" 2 "Active code page: 850"
check "console: Latin-1 string" 1 "Author => José Martínez"
check "console: Greek and Cyrillic" 1 "Subject => Ελληνικά και русский"
check "console: Japanese" 1 "Title => Ünïcødé — 日本語のタイトル "

if [ "$failures" -ne 0 ]; then
    printf '%s\n' "$output" >&2
    exit 1
fi
echo "console tool under Wine: passed"
