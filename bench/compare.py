#!/usr/bin/env python3
"""The comparison behind scripts/bench: Vellumtag against the I/O floor and the PDF tools a
user would pick instead, on one corpus, in one run, printed as one Markdown table.

Every tool reads every file of the corpus. Vellumtag (with its default --jobs, one per core,
and with --jobs 1), the I/O floor and exiftool get all files in one invocation; pdfinfo,
mutool and qpdf run once per file, as a shell loop would run them. exiftool and pdfinfo are
reference columns. Every run goes through bench/run_timed, which reports wall time, CPU time and the largest
maximum resident set size among the run's processes. Each figure is the median of several runs
(fewer for exiftool and the tools run once per file), taken in rounds, every tool once per
round, so that drift of the machine spreads over all of them; a warm-up run before the rounds
fills the page cache. Ratios are each tool's wall time over Vellumtag's.

Without --corpus, the corpus is every distinct PDF (and gzipped PDF) of the documentation
packages in scripts/lib.sh's CORPUS_PACKAGES, as shipped and in two qpdf-made variants
(object streams generated; RC4 128-bit encrypted with an empty user password), built once into
--cache and reused while the package files are unchanged.
"""

import argparse
import concurrent.futures
import gzip
import hashlib
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import time

# The corpus is the conformance test's: the same packages, files and order.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from conformance import corpus_files, corpus_packages  # noqa: E402

# Bump when the variants change, so that the cache is built anew.
CACHE_VERSION = "1"

VARIANTS = [
    ("original", None),
    ("objstm", ["--object-streams=generate"]),
    ("rc4", ["--allow-weak-crypto", "--encrypt", "", "owner", "128", "--use-aes=n", "--"]),
]

TARGETS = {
    "floor": 3.0,      # Vellumtag --jobs 1 at most this many times the I/O floor's time
    "jobs": 1.7,       # the default --jobs at least this many times faster than --jobs 1
    "pdfinfo": 20.0,   # Vellumtag at least this many times faster
    "memory_mib": 16.0,  # peak resident memory of the default --jobs
    "large": 2.0,      # the 1 GiB file at most this many times the 1 MiB one's time
}


def log(message):
    print(message, file=sys.stderr, flush=True)


# --- Corpus -----------------------------------------------------------------------------------

def package_files(packages):
    """The installed PDFs of the packages, as the conformance test takes them."""
    files, missing = corpus_files(packages)
    for package in missing:
        log(f"bench: package {package} is not installed; its files are left out")
    return files


def make_variant(source, variant_args, target):
    """Writes target from source; False when qpdf cannot rewrite it."""
    part = target + ".part"
    try:
        if variant_args is None:
            if source.endswith(".gz"):
                with gzip.open(source) as compressed, open(part, "wb") as out:
                    shutil.copyfileobj(compressed, out)
            else:
                shutil.copyfile(source, part)
        else:
            result = subprocess.run(["qpdf", *variant_args, source, part],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            # 3: written, with warnings.
            if result.returncode not in (0, 3) or not os.path.exists(part):
                return False
        os.replace(part, target)
        return True
    except OSError:
        return False
    finally:
        if os.path.exists(part):
            os.remove(part)


def build_default_corpus(lib_sh, cache, jobs):
    """The cached default corpus: (files, description)."""
    sources = package_files(corpus_packages(lib_sh))
    key_text = CACHE_VERSION + "".join(
        f"|{s}|{os.stat(s).st_size}|{os.stat(s).st_mtime_ns}" for s in sources)
    key = hashlib.sha1(key_text.encode()).hexdigest()
    manifest_path = os.path.join(cache, "manifest.json")
    if os.path.exists(manifest_path):
        with open(manifest_path, encoding="utf-8") as f:
            manifest = json.load(f)
        if manifest.get("key") == key and all(os.path.exists(p) for p in manifest["files"]):
            return manifest["files"], manifest["description"]

    log(f"bench: building the corpus from {len(sources)} package PDFs into {cache}")
    shutil.rmtree(cache, ignore_errors=True)
    for name, _ in VARIANTS:
        os.makedirs(os.path.join(cache, name))
    originals = []
    for index, source in enumerate(sources):
        stem = re.sub(r"[^A-Za-z0-9._-]", "_", os.path.basename(source))
        stem = re.sub(r"\.pdf(\.gz)?$", "", stem)
        originals.append((source, f"{index:04d}-{stem}.pdf"))

    counts = {}
    files = []
    # Originals first: the variants are made from the gunzipped copies.
    for name, args in VARIANTS:
        jobs_list = []
        for source, filename in originals:
            origin = source if args is None else os.path.join(cache, "original", filename)
            if args is not None and not os.path.exists(origin):
                continue
            jobs_list.append((origin, os.path.join(cache, name, filename)))
        with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
            made = list(pool.map(lambda job, a=args: make_variant(job[0], a, job[1]), jobs_list))
        written = [target for (_, target), ok in zip(jobs_list, made) if ok]
        counts[name] = len(written)
        files.extend(written)
        log(f"bench: {name}: {len(written)} of {len(jobs_list)} files")

    size = sum(os.path.getsize(p) for p in files)
    description = (f"{len(files)} files, {size / 1e6:.0f} MB: {counts['original']} PDFs of "
                   f"{len(set(corpus_packages(lib_sh)))} Debian documentation packages as shipped"
                   f", {counts['objstm']} rewritten by qpdf with object streams, {counts['rc4']} "
                   "RC4-encrypted by qpdf")
    with open(manifest_path, "w", encoding="utf-8") as f:
        json.dump({"key": key, "files": files, "description": description}, f)
    return files, description


def folder_corpus(folder):
    files = []
    for root, _, names in os.walk(folder):
        files.extend(os.path.join(root, n) for n in names if n.lower().endswith(".pdf"))
    files.sort()
    size = sum(os.path.getsize(p) for p in files)
    return files, f"{len(files)} files, {size / 1e6:.0f} MB, from {folder}"


# --- Measurement --------------------------------------------------------------------------

class Tool:
    def __init__(self, key, name, how, argv, per_file, runs):
        self.key, self.name, self.how = key, name, how
        self.argv, self.per_file, self.runs = argv, per_file, runs
        self.wall, self.cpu, self.peak_kib = [], [], 0

    def run(self, launcher, files):
        """One run over the files through run_timed: (wall seconds, CPU seconds)."""
        mode = "each" if self.per_file else "all"
        result = subprocess.run([launcher, mode, *self.argv, "--", *files],
                                capture_output=True, text=True)
        if result.returncode != 0:
            sys.exit(f"bench: run_timed failed for {self.key}: {result.stderr.strip()}")
        wall, user, system, rss, _ = result.stdout.split()
        self.peak_kib = max(self.peak_kib, int(rss))
        return float(wall), float(user) + float(system)

def format_seconds(seconds):
    if seconds >= 100:
        return f"{seconds:.0f} s"
    if seconds >= 10:
        return f"{seconds:.1f} s"
    if seconds >= 1:
        return f"{seconds:.2f} s"
    return f"{seconds * 1000:.0f} ms" if seconds >= 0.1 else f"{seconds * 1000:.1f} ms"


def format_per_file(seconds):
    micro = seconds * 1e6
    if micro >= 1000:
        return f"{micro / 1000:.1f} ms"
    return f"{micro:.0f} µs" if micro >= 10 else f"{micro:.1f} µs"


def format_ratio(ratio):
    return f"{ratio:.0f}×" if ratio >= 10 else f"{ratio:.2f}×"


def vellumtag_errors(tool, files):
    """How many files the tool reports an error for, from one extra run."""
    output = subprocess.run([*tool, *files], capture_output=True).stdout
    return output.count(b"\nError: ")


def large_file_ratio(args, vellumtag):
    """Median time of Vellumtag on the 1 GiB file over that on the 1 MiB one, in paired runs;
    prints both."""
    pair = [args.small, args.large]
    times = {path: [] for path in pair}
    for _ in range(args.runs + 1):  # the first pair warms the page cache
        for path in pair:
            result = subprocess.run([args.run_timed, "all", *vellumtag, "--", path],
                                    capture_output=True, text=True, check=True)
            times[path].append(float(result.stdout.split()[0]))
    small, large = (statistics.median(times[path][1:]) for path in pair)
    print("| File | Size | Time |")
    print("|---|---:|---:|")
    for path, seconds in zip(pair, (small, large)):
        print(f"| `{os.path.basename(path)}` | {os.path.getsize(path) / 2**20:.0f} MiB | "
              f"{format_seconds(seconds)} |")
    print()
    return large / small


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--vellumtag", required=True)
    parser.add_argument("--io-floor", required=True)
    parser.add_argument("--run-timed", required=True, help="the launcher, bench/run_timed")
    parser.add_argument("--corpus", help="a folder of PDFs; default: the package corpus")
    parser.add_argument("--cache", help="where the default corpus is built")
    parser.add_argument("--packages-from", help="scripts/lib.sh, for CORPUS_PACKAGES")
    parser.add_argument("--runs", type=int, default=5,
                        help="runs of Vellumtag and the I/O floor")
    parser.add_argument("--slow-runs", type=int, default=3,
                        help="runs of exiftool and the tools run once per file")
    parser.add_argument("--jobs", type=int, default=2, help="qpdf processes building the cache")
    parser.add_argument("--large", help="a PDF of 1 GiB, made by bench/make_large_pdf.sh")
    parser.add_argument("--small", help="the same PDF made with 1 MiB")
    args = parser.parse_args()

    if args.corpus:
        files, description = folder_corpus(args.corpus)
    else:
        files, description = build_default_corpus(args.packages_from, args.cache, args.jobs)
    if not files:
        sys.exit("bench: the corpus holds no PDF")

    tools = [
        Tool("vellumtag", "**Vellumtag**", "one process, all files, one job per core",
             [args.vellumtag], False, args.runs),
        Tool("vellumtag1", "**Vellumtag** `--jobs 1`", "one process, all files, one at a time",
             [args.vellumtag, "--jobs", "1"], False, args.runs),
        Tool("floor", "I/O floor (`bench/io_floor`: open, map, touch first and last page)",
             "one process, all files", [args.io_floor], False, args.runs),
        Tool("pdfinfo", "`pdfinfo`", "one process per file", ["pdfinfo"], True, args.slow_runs),
        Tool("exiftool", "`exiftool -fast2`", "one process, all files",
             ["exiftool", "-fast2"], False, args.slow_runs),
        Tool("mutool", "`mutool info`", "one process per file", ["mutool", "info"], True,
             args.slow_runs),
        Tool("qpdf", "`qpdf --show-object=trailer`", "one process per file",
             ["qpdf", "--show-object=trailer"], True, args.slow_runs),
    ]

    log(f"bench: corpus of {description}")
    log("bench: warm-up run")
    for tool in tools:
        tool.run(args.run_timed, files if not tool.per_file else files[:50])
    for round_index in range(max(t.runs for t in tools)):
        for tool in tools:
            if round_index < tool.runs:
                wall, cpu = tool.run(args.run_timed, files)
                tool.wall.append(wall)
                tool.cpu.append(cpu)
                log(f"bench: round {round_index + 1}: {tool.key} {wall:.3f} s")

    ours = tools[0]
    base = statistics.median(ours.wall)
    errors = vellumtag_errors([args.vellumtag], files)

    runs = f"Medians of {args.runs} runs" if args.runs > 1 else "One run"
    slow = f"{args.slow_runs} runs" if args.slow_runs > 1 else "one run"
    print(f"Corpus: {description}. Vellumtag reads {len(files) - errors} of them without "
          f"error. {runs} ({slow} for the slower tools), warm page cache. CPU time is user "
          "plus system time of the tool's processes.")
    print()
    print("| Tool | Runs as | Time | CPU time | Per file | Time vs Vellumtag | Peak memory |")
    print("|---|---|---:|---:|---:|---:|---:|")
    for tool in tools:
        wall = statistics.median(tool.wall)
        print(f"| {tool.name} | {tool.how} | {format_seconds(wall)} | "
              f"{format_seconds(statistics.median(tool.cpu))} | "
              f"{format_per_file(wall / len(files))} | {format_ratio(wall / base)} | "
              f"{tool.peak_kib / 1024:.1f} MiB |")
    print()

    median = {t.key: statistics.median(t.wall) for t in tools}
    floor_ratio = median["vellumtag1"] / median["floor"]
    default_ratio = base / median["floor"]
    speedup = median["vellumtag1"] / base
    checks = [
        (f"`--jobs 1` within {TARGETS['floor']:.0f}× of the I/O floor",
         f"{floor_ratio:.2f}× (the default --jobs: {default_ratio:.2f}×)",
         floor_ratio <= TARGETS["floor"]),
        (f"the default --jobs ({os.cpu_count()} cores) at least {TARGETS['jobs']}× faster than "
         "`--jobs 1`", f"{speedup:.2f}×", speedup >= TARGETS["jobs"]),
        (f"at least {TARGETS['pdfinfo']:.0f}× faster than the pdfinfo loop",
         f"{median['pdfinfo'] / base:.0f}×", median["pdfinfo"] / base >= TARGETS["pdfinfo"]),
        (f"peak memory of the default --jobs at most {TARGETS['memory_mib']:.0f} MiB",
         f"{ours.peak_kib / 1024:.1f} MiB", ours.peak_kib / 1024 <= TARGETS["memory_mib"]),
    ]
    if args.large:
        large_ratio = large_file_ratio(args, tools[0].argv)
        checks.append((f"the 1 GiB file within {TARGETS['large']:.0f}× of the 1 MiB one",
                       f"{large_ratio:.2f}×", large_ratio <= TARGETS["large"]))
    print("Targets:")
    for text, measured, met in checks:
        print(f"- {text}: {measured}, {'met' if met else 'MISSED'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
