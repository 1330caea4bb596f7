#!/usr/bin/env bash
# Times python3 -m vellumtag.index --db on scripts/bench's corpus and on a tree of 100,000 small
# builder files written into build/index-bench: the first index, an unchanged rerun and a rerun
# after 1% of the files changed, as one Markdown table (bench/index_incremental.py). Not part
# of scripts/test: a run takes a few minutes. INDEX_BENCH_FILES sets the number of builder
# files.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib.sh"

ensure_packages "${BUILD_PACKAGES[@]}" "${PYTHON_PACKAGES[@]}" "${CORPUS_PACKAGES[@]}"
build_target release _vellumtag
build_target release make_tree

# Debian's interpreter, which the module is built for (python/CMakeLists.txt).
exec /usr/bin/python3 "$ROOT/bench/index_incremental.py" \
    --python-path "$ROOT/build/release/python" \
    --make-tree "$ROOT/build/release/tests/support/make_tree" \
    --work "$ROOT/build/index-bench" \
    --cache "$ROOT/build/bench-corpus" --packages-from "$ROOT/scripts/lib.sh" \
    --files "${INDEX_BENCH_FILES:-100000}"
