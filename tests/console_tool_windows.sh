#!/usr/bin/env bash
# Vellumtag.exe under Wine: its own wildcard expansion (Windows passes patterns unexpanded)
# and UTF-8 output. Usage: console_tool_windows.sh WINE_RUN VELLUMTAG_EXE SAMPLES_DIR
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

status=0
"$wine_run" "$exe" >/dev/null || status=$?
[ "$status" -eq 100 ] || { echo "FAILED: no arguments exited $status, not 100" >&2; failures=$((failures + 1)); }

if [ "$failures" -ne 0 ]; then
    printf '%s\n' "$output" >&2
    exit 1
fi
echo "console tool under Wine: passed"
