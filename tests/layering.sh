#!/usr/bin/env bash
# The reader's structure, checked: a header or source of one layer includes none of a layer
# above it (syntax < xref < objects < security < metadata < PDFDocument), and nothing but the
# scanner names its cursor.
set -euo pipefail
cd "${1:?usage: layering.sh SOURCE_DIR}"

rank() {
    case "$1" in
    syntax) echo 0 ;;
    xref) echo 1 ;;
    objects) echo 2 ;;
    security) echo 3 ;;
    metadata) echo 4 ;;
    *) echo 5 ;;
    esac
}

failures=0
while IFS= read -r file; do
    relative=${file#reader/}
    own=$(rank "${relative%%/*}")
    [ "$relative" = "${relative#*/}" ] && own=5
    while IFS= read -r included; do
        folder=${included%%/*}
        [ "$folder" = "$included" ] && folder=top
        if [ "$(rank "$folder")" -gt "$own" ]; then
            echo "$file includes $included, a layer above its own" >&2
            failures=$((failures + 1))
        fi
    done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
done < <(find reader -name '*.h' -o -name '*.cpp' | sort)

if grep -rn --include='*.h' --include='*.cpp' '_cursor' reader cli shellext tests fuzz bench |
    grep -v '^reader/syntax/MemoryParser\.\(h\|cpp\):'; then
    echo "the lines above name the scanner's cursor outside the scanner" >&2
    failures=$((failures + 1))
fi

[ "$failures" -eq 0 ] && echo "layering: every include points downwards"
exit $((failures != 0))
