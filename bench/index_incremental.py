#!/usr/bin/env python3
"""Incremental against full indexing with python3 -m vellumtag.index --db, as
bench/index_incremental.sh runs it: for each tree, the wall time of the first index into a new
database, of a rerun with nothing changed, and of a rerun after 1% of the files changed (every
hundredth file in walk order gets a new modification time, which makes the index read it
again as an edit would). Each run is one process on a local cluster of one worker per core, as
a user starts it. Prints a Markdown table; progress goes to standard error.

The trees: the bench corpus of scripts/bench (its cache folder), and --files small builder
files written by make_tree into --work.
"""

import argparse
import os
import shutil
import subprocess
import sys
import time


def log(message):
    print(message, file=sys.stderr, flush=True)


def timed_index(python_path, tree, db):
    environment = dict(os.environ, PYTHONPATH=python_path)
    start = time.monotonic()
    done = subprocess.run([sys.executable, "-m", "vellumtag.index", tree, "--db", db],
                          env=environment, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                          text=True, check=False)
    seconds = time.monotonic() - start
    if done.returncode != 0:
        sys.exit(f"index of {tree} failed:\n{done.stderr}")
    counts = done.stderr.strip().splitlines()[-1]
    log(f"bench: {seconds:.2f} s, {counts}")
    return seconds, counts


def touch_one_in_a_hundred(python_path, tree):
    """Gives every hundredth file of the walk a new modification time; returns how many."""
    sys.path.insert(0, python_path)
    from vellumtag.index import walk

    paths = list(walk([tree]))[::100]
    later = time.time_ns() + 1_000_000_000
    for path in paths:
        os.utime(path, ns=(later, later))
    return len(paths)


def measure(python_path, name, tree, work):
    db = os.path.join(work, f"{name}.sqlite")
    for suffix in ("", "-wal", "-shm"):
        if os.path.exists(db + suffix):
            os.remove(db + suffix)
    log(f"bench: {name}: first index")
    first = timed_index(python_path, tree, db)
    log(f"bench: {name}: rerun, nothing changed")
    unchanged = timed_index(python_path, tree, db)
    changed = touch_one_in_a_hundred(python_path, tree)
    log(f"bench: {name}: rerun, {changed} files changed")
    after = timed_index(python_path, tree, db)
    return first, unchanged, after


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--python-path", required=True, help="the build's python/ folder")
    parser.add_argument("--make-tree", required=True, help="the make_tree tool")
    parser.add_argument("--work", required=True, help="a folder in build/ for trees and databases")
    parser.add_argument("--cache", help="where scripts/bench builds its corpus")
    parser.add_argument("--packages-from", help="scripts/lib.sh, for CORPUS_PACKAGES")
    parser.add_argument("--files", type=int, default=100_000, help="builder files to write")
    args = parser.parse_args()

    os.makedirs(args.work, exist_ok=True)
    trees = []
    if args.cache:
        # scripts/bench's corpus, built or reused as it does; indexed in a copy, so that the new
        # modification times don't reach the cache.
        sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
        from compare import build_default_corpus

        build_default_corpus(args.packages_from, args.cache, 2)
        copy = os.path.join(args.work, "corpus")
        shutil.rmtree(copy, ignore_errors=True)
        shutil.copytree(args.cache, copy, ignore=shutil.ignore_patterns("manifest.json"))
        trees.append(("corpus", "bench corpus", copy))
    builder = os.path.join(args.work, f"builder-{args.files}")
    shutil.rmtree(builder, ignore_errors=True)
    log(f"bench: writing {args.files} builder files into {builder}")
    subprocess.run([args.make_tree, builder, str(args.files)], check=True)
    trees.append(("builder", f"{args.files:,} builder files", builder))

    print("| Tree | Files | First index | Unchanged rerun | Rerun after 1% changed | "
          "Unchanged / first |")
    print("|---|---:|---:|---:|---:|---:|")
    for key, name, tree in trees:
        first, unchanged, after = measure(args.python_path, key, tree, args.work)
        files = first[1].split()[1]
        print(f"| {name} | {int(files):,} | {first[0]:.2f} s | {unchanged[0]:.2f} s | "
              f"{after[0]:.2f} s ({after[1].split()[1]} read) | "
              f"{unchanged[0] / first[0]:.3f} |", flush=True)


if __name__ == "__main__":
    main()
