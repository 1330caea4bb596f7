#!/usr/bin/env python3
"""Document facts and XMP properties against pdfinfo and exiftool, on real files.

The files are the PDFs of the documentation packages of CORPUS_PACKAGES in scripts/lib.sh (as
tests/conformance.py finds them) and files made from a few of them by real tools, each kind
the console tool's --details tells apart: encrypted by qpdf (RC4 40 and 128 bits, AES-128,
AES-256), linearized by qpdf, PDF/A-2b by Ghostscript, attachments added by qpdf and by pdftk,
and xmp:Rating, dc:rights and a struct written by exiftool. The tool reads them all in one run
(--json --details --xmp), pdfinfo one at a time and exiftool (-j -n -G1 -XMP:all, values as stored) in one run.

PDF:Version, PDF:PageSize, PDF:Encryption (the algorithm), PDF:Tagged, PDF:Linearized and
PDF:Form must equal pdfinfo's PDF version, Page size, Encrypted algorithm, Tagged, Optimized and
Form; each XMP property that both the tool and exiftool give as one text must be equal, dates
compared as instants. A difference either falls under a named rule or fails the test; so does
a made file whose own fact (its attachments, its conformance) is not what its maker wrote.
Files made by qpdf, Ghostscript and exiftool are cached under --work; pdftk's, which hold
random bytes, are made again on every run. Usage:

    facts_conformance.py --tool build/rel/cli/Vellumtag --work DIR --packages-from scripts/lib.sh
"""

import argparse
import concurrent.futures
import datetime
import json
import os
import re
import shutil
import subprocess
import sys
from collections import Counter

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from conformance import corpus_files, corpus_packages  # noqa: E402

MIN_FILES = 300
# pdfinfo's names of the algorithms (poppler's "Encrypted: yes (... algorithm:X)").
PDFINFO_ALGORITHM = {"RC4 40-bit": "RC4", "RC4 128-bit": "RC4", "AES-128": "AES",
                     "AES-256": "AES-256"}
# name, command after the input and output paths are known, and what --details must say.
ENCRYPTIONS = [
    ("rc4-40", ["--allow-weak-crypto", "--encrypt", "", "owner", "40", "--"], "RC4 40-bit"),
    ("rc4-128", ["--allow-weak-crypto", "--encrypt", "", "owner", "128", "--use-aes=n", "--"],
     "RC4 128-bit"),
    ("aes-128", ["--encrypt", "", "owner", "128", "--use-aes=y", "--"], "AES-128"),
    ("aes-256", ["--encrypt", "", "owner", "256", "--"], "AES-256"),
]


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, check=False, **kwargs)


def made(work, name, source, make):
    """The path of a file made from source by make(output), cached by source and name; a
    maker's failure ends the test."""
    status = os.stat(source)
    path = os.path.join(work, f"{name}-{status.st_size}-{int(status.st_mtime)}-"
                              f"{os.path.basename(source)}")
    if not os.path.exists(path):
        done = make(path + ".part")
        # qpdf's 3 is success with warnings.
        if done.returncode not in (0, 3) or not os.path.exists(path + ".part"):
            sys.exit(f"making {path} failed: {done.stderr.decode(errors='replace')}")
        os.replace(path + ".part", path)
    return path


def make_files(work, corpus):
    """(path, what its maker wrote) for every made file."""
    os.makedirs(work, exist_ok=True)
    base = [path for path in corpus if os.path.getsize(path) < 2_000_000][:6]
    files = []
    for source in base:
        for name, options, algorithm in ENCRYPTIONS:
            files.append((made(work, name, source, lambda out, o=options, s=source:
                               run(["qpdf", s, out] + o)), {"encryption": algorithm}))
        files.append((made(work, "linearized", source, lambda out, s=source:
                           run(["qpdf", "--linearize", s, out])), {"linearized": True}))
    first = base[0]
    files.append((made(work, "pdfa2", first, lambda out: run(
        ["gs", "-q", "-dBATCH", "-dNOPAUSE", "-dPDFA=2", "-dPDFACompatibilityPolicy=1",
         "-sColorConversionStrategy=RGB", "-sDEVICE=pdfwrite", f"-sOutputFile={out}", first])),
        {"conformance": ["PDF/A-2b"]}))
    files.append((made(work, "qpdf-attachments", first, lambda out: run(
        ["qpdf", first, out, "--add-attachment", first, "--key=one", "--",
         "--add-attachment", base[1], "--key=two", "--"])), {"attachments": 2}))
    files.append((made(work, "exiftool-xmp", first, lambda out: run(
        ["exiftool", "-q", "-o", out, "-XMP-xmp:Rating=4", "-XMP-dc:Rights=© 2024 Vellumtag",
         "-XMP-xmpMM:DocumentID=uuid:1234", "-XMP-xmpMM:DerivedFromDocumentID=uuid:0", first])),
        {"xmp": {"XMP-xmp:Rating": "4", "XMP-dc:Rights": "© 2024 Vellumtag",
                 "XMP-xmpMM:DerivedFromDocumentID": "uuid:0"}}))
    # pdftk writes random bytes (its /ID): never cached.
    attached = os.path.join(work, "pdftk-attachments.pdf")
    run(["pdftk", first, "attach_files", base[1], base[2], base[3], "output", attached])
    files.append((attached, {"attachments": 3}))
    return [(path, expected) for path, expected in files if os.path.exists(path)]


def pdfinfo(path):
    """pdfinfo's facts of one file: name to text."""
    out = run(["pdfinfo", path]).stdout.decode("utf-8", "replace")
    facts = {}
    for key in ("PDF version", "Page size", "Page rot", "Encrypted", "Tagged", "Optimized",
                "Form"):
        found = re.search(rf"^{key}:\s+(.*)$", out, re.M)
        if found:
            facts[key] = found.group(1).strip()
    return facts


def expected_facts(info):
    """What --details must give by pdfinfo's facts, each change by a named rule; (facts,
    rules)."""
    rules = []
    size = re.match(r"([\d.e+]+) x ([\d.e+]+) pts", info.get("Page size", ""))
    page = [float(size.group(1)), float(size.group(2))] if size else None
    if page and info.get("Page rot") in ("90", "270"):
        # The size as the page is shown: pdfinfo prints the crop box unturned.
        page.reverse()
        rules.append("page turned by /Rotate")
    encrypted = re.search(r"algorithm:([\w-]+)", info.get("Encrypted", ""))
    return {
        "version": info.get("PDF version"),
        "pageSize": page,
        "encryption": encrypted.group(1) if encrypted else None,
        "tagged": info.get("Tagged") == "yes",
        "linearized": info.get("Optimized") == "yes",
        "form": info.get("Form"),
    }, rules


def actual_facts(document):
    encryption = document.get("encryption")
    return {
        "version": document.get("version"),
        "pageSize": document.get("pageSize"),
        "encryption": PDFINFO_ALGORITHM.get(encryption["algorithm"]) if encryption else None,
        "tagged": document.get("tagged"),
        "linearized": document.get("linearized"),
        "form": document.get("form"),
    }


def instant(text):
    """A date of either form (exiftool's 2024:03:05 10:20:30+01:00, ISO 8601) as a datetime,
    or None."""
    match = re.fullmatch(r"(\d{4})[-:](\d\d)[-:](\d\d)(?:[T ](\d\d):(\d\d)(?::(\d\d)(\.\d+)?)?"
                         r"(Z|[+-]\d\d:\d\d)?)?", text.strip())
    if not match:
        return None
    year, month, day, hour, minute, second, fraction, zone = match.groups()
    hour, minute = hour or 0, minute or 0
    tz = None
    if zone == "Z":
        tz = datetime.timezone.utc
    elif zone:
        sign = -1 if zone[0] == "-" else 1
        tz = datetime.timezone(sign * datetime.timedelta(hours=int(zone[1:3]),
                                                         minutes=int(zone[4:6])))
    return datetime.datetime(int(year), int(month), int(day), int(hour), int(minute),
                             int(second or 0), int(float(fraction or 0) * 1e6), tzinfo=tz)


def compare_xmp(ours, theirs, tally, failures, path):
    """Each property both give as one text: equal, or equal as instants."""
    for key, value in ours.items():
        other = theirs.get(key)
        if isinstance(other, list) and not any(isinstance(item, (dict, list)) for item in other):
            # An array, or a struct field of a sequence: its items joined as ours are.
            other = "; ".join(str(item) for item in other)
        if other is None or isinstance(other, (dict, list)):
            continue
        other = str(other)
        if value == other.strip():
            tally["xmp equal"] += 1
        elif instant(value) and instant(value) == instant(other):
            tally["xmp equal as instants"] += 1
        elif re.sub(r"^(\d{4}):(\d\d):(\d\d) ", r"\1-\2-\3T", other) == value:
            # A date with a malformed zone: exiftool only turns the separators to its own.
            tally["rule: malformed date, exiftool's separators"] += 1
        elif value.replace("\ufffd", "?") == other:
            # Malformed UTF-8 in the packet: U+FFFD for each bad byte, exiftool's "?".
            tally["rule: malformed UTF-8 as ?"] += 1
        elif key.startswith("XMP-pdfaExtension:") and value.startswith(other + "; "):
            # exiftool keeps the first item of the PDF/A extension schemas' lists only.
            tally["rule: exiftool's first extension schema"] += 1
        else:
            failures.append(f"{path}: {key}: ours {value!r}, exiftool {other!r}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--packages-from", required=True)
    args = parser.parse_args()
    for peer in ("pdfinfo", "exiftool", "qpdf", "gs", "pdftk"):
        if shutil.which(peer) is None:
            sys.exit(f"{peer} is missing: scripts/test installs it")
    corpus, missing = corpus_files(corpus_packages(args.packages_from))
    corpus = [path for path in corpus if path.endswith(".pdf")]
    if missing or len(corpus) < MIN_FILES:
        sys.exit(f"too few corpus files ({len(corpus)}); missing packages: {missing}")
    made_files = make_files(args.work, corpus)
    paths = corpus + [path for path, _ in made_files]

    lines = run([args.tool, "--json", "--details", "--xmp", "--jobs", "2"] + paths).stdout
    ours = {row["file"]: row for row in map(json.loads, lines.decode().splitlines())}
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        infos = dict(zip(paths, pool.map(pdfinfo, paths)))
    exif = {row["SourceFile"]: row for row in json.loads(
        run(["exiftool", "-j", "-n", "-G1", "-XMP:all", "-api", "LargeFileSupport=1"] + paths).stdout
        or b"[]")}

    tally, failures = Counter(), []
    for path in paths:
        row = ours.get(path)
        if row is None or row["result"] != 0:
            failures.append(f"{path}: not read ({row and row.get('error')})")
            continue
        expected, rules = expected_facts(infos[path])
        actual = actual_facts(row["document"])
        for key in expected:
            if expected[key] == actual[key]:
                tally[f"{key} equal"] += 1
            else:
                failures.append(f"{path}: {key}: ours {actual[key]!r}, pdfinfo {expected[key]!r}")
        for rule in rules:
            tally[f"rule: {rule}"] += 1
        compare_xmp(row.get("xmp", {}), exif.get(path, {}), tally, failures, path)
    for path, wanted in made_files:
        row = ours.get(path, {})
        document = row.get("document", {})
        for key, value in wanted.items():
            got = document.get(key)
            if key == "encryption":
                got = got and got["algorithm"]
            elif key == "xmp":
                got = {name: row.get("xmp", {}).get(name) for name in value}
            if got != value:
                failures.append(f"{path}: {key}: ours {got!r}, made with {value!r}")
            else:
                tally[f"made: {key}"] += 1

    print(f"{len(paths)} files ({len(made_files)} made)")
    for name, count in sorted(tally.items()):
        print(f"  {count:6}  {name}")
    for failure in failures[:40]:
        print("FAIL", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
