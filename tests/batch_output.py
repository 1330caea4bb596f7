#!/usr/bin/env python3
"""The console tool's batch output over the conformance corpus (the files conformance.py
cached): --jobs 2 writes exactly what --jobs 1 writes, on standard output and standard error;
every --json line is a JSON object that json.tool accepts; --csv reads back with Python's csv
module to the values of the JSON lines."""
import argparse
import csv
import io
import json
import subprocess
import sys

KEYS = ["Title", "Author", "Category", "Comments", "Company", "Subject", "Keywords", "Producer",
        "Creator", "PageCount", "CreationDate", "ModDate"]


def run(tool, *arguments):
    done = subprocess.run([tool, *arguments], capture_output=True, timeout=1200)
    if done.returncode != 0:
        sys.exit(f"batch_output: {' '.join(arguments)} exited with {done.returncode}")
    return done.stdout, done.stderr


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--corpus", required=True)
    args = parser.parse_args()
    failures = []

    serial = run(args.tool, "--jobs", "1", "-r", args.corpus)
    parallel = run(args.tool, "--jobs", "2", "-r", args.corpus)
    files = serial[0].count(b"\nFilename: ")
    if files < 1000:
        failures.append(f"only {files} files in the corpus")
    if serial != parallel:
        failures.append("--jobs 2 output differs from --jobs 1")

    json_out, _ = run(args.tool, "--json", "-r", args.corpus)
    checked = subprocess.run([sys.executable, "-m", "json.tool", "--json-lines"],
                             input=json_out, capture_output=True)
    if checked.returncode != 0:
        failures.append("json.tool refused the output: " + checked.stderr.decode()[:500])
    rows = {}
    for number, line in enumerate(json_out.decode("utf-8").splitlines(), 1):
        record = json.loads(line)
        if set(record) not in ({"file", "result", "values"}, {"file", "result", "error"}):
            failures.append(f"line {number}: fields {sorted(record)}")
        rows[record["file"]] = record
    if len(rows) != files:
        failures.append(f"{len(rows)} JSON lines for {files} files")

    csv_out, _ = run(args.tool, "--csv", "-r", args.corpus)
    reader = csv.reader(io.StringIO(csv_out.decode("utf-8"), newline=""))
    header = next(reader)
    if header != ["file", "result", *KEYS]:
        failures.append(f"CSV header {header}")
    count = 0
    for row in reader:
        count += 1
        record = rows.get(row[0])
        if record is None:
            failures.append(f"CSV file {row[0]!r} not in the JSON lines")
            continue
        values = record.get("values", {})
        expected = [str(record["result"]), *(values.get(key, "") for key in KEYS)]
        if row[1:] != expected:
            failures.append(f"{row[0]}: CSV {row[1:]} JSON {expected}")
    if count != files:
        failures.append(f"{count} CSV rows for {files} files")

    for failure in failures[:20]:
        print("FAILED:", failure, file=sys.stderr)
    if failures:
        sys.exit(1)
    print(f"batch output: {files} files, --jobs 1 and 2 identical, JSON and CSV valid")


if __name__ == "__main__":
    main()
