#!/usr/bin/env python3
"""What --details and --xmp cost, paired on one corpus: the console tool of a base build and
of this one, run in turn on the same files (--jobs 1, output to /dev/null), and the median
time of each over the runs, with ratios. The default output of both must be the same bytes.

    bench/options_cost.py --base OLD/Vellumtag --tool NEW/Vellumtag [--runs 7] FILE_LIST
"""
import argparse
import resource
import statistics
import subprocess
import sys


def timed(command):
    """The processor time (user and system) of one run: steadier than the wall clock on a
    machine that others share."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--base", required=True)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("files", help="a file of paths, one a line")
    args = parser.parse_args()
    files = open(args.files, encoding="utf-8").read().splitlines()
    same = [subprocess.run([tool, "--jobs", "1", *files], capture_output=True).stdout
            for tool in (args.base, args.tool)]
    if same[0] != same[1]:
        sys.exit("the default output differs from the base build's")
    variants = {
        "base default": [args.base],
        "default": [args.tool],
        "--details": [args.tool, "--details"],
        "--details --xmp": [args.tool, "--details", "--xmp"],
    }
    times = {name: [] for name in variants}
    for _ in range(args.runs):
        # In turn, so that a change of the machine's load falls on every variant alike.
        for name, command in variants.items():
            times[name].append(timed(command + ["--jobs", "1", *files]))
    medians = {name: statistics.median(values) for name, values in times.items()}
    print(f"{len(files)} files, {args.runs} runs, median processor seconds:")
    for name, median in medians.items():
        print(f"  {name:16} {median:8.3f}  {median / medians['default']:.3f}x default")
    print(f"  default against base: {medians['default'] / medians['base default']:.3f}x")


if __name__ == "__main__":
    main()
