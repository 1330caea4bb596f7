#!/usr/bin/env python3
"""Damaged files: the reader on real PDFs broken by byte surgery, against the intact files.

A fixed pseudo-random selection of the corpus of tests/conformance.py (ordered by the SHA-1 of
the paths) is taken in the forms of FORMS: as shipped; rewritten by qpdf with classic
cross-reference tables, or with object streams and a cross-reference stream; rewritten by
pdftk and by Ghostscript's pdfwrite (a few files each). Each surgery of SURGERIES then damages
every form it applies to, as damaged files are found in the wild: junk before the header or
after %%EOF, startxref zeroed, the file cut after its last object, the cross-reference section
that startxref points to deleted, an entry's offset wrong; a hybrid-reference section appended
to the object-streams form (ISO 32000-1, 7.5.8.4).

metadata_dump reads the intact and the damaged files. A damaged file must give the intact
file's values exactly, every key and the reference flags, and must say whether the recovery
scan rebuilt its object index ("recovered") as its surgery needs. Where the surgery left no
trailer dictionary or cross-reference stream dictionary that names /Info (ISO 32000-1, 7.5.5
and 7.5.8.2), no information dictionary can be found: the values expected are then those of
a copy of the intact file whose /Info keys, in every such dictionary, are renamed /Inf_ (same
length, so every offset holds): the catalog's XMP values and the page count. In strict mode
(metadata_dump --strict: no header or startxref window, no recovery scan) the intact files
must read as in the ordinary mode, junk before the header must give 101 and junk after %%EOF
102, and a hybrid file its intact values, which shows that /XRefStm is read and not
recovered. pdfinfo is the peer: where its page count or title for the intact file agrees with
ours, it must agree for the damaged file too, whenever it reads that one (a damaged file it
cannot read, or a title it no longer finds, is a note: poppler rebuilds an index only from
"trailer" keywords, and then loses the information dictionary).

The test fails on any difference, on a wrong "recovered" flag or strict-mode result, on an
intact file that does not read, and on a surgery that ends with fewer than MIN_FILES files
compared (no minimum when files are named on the command line). It ends with a table per
surgery. The forms, the damaged files and pdfinfo's answers are cached under --work, keyed by
CACHE_VERSION, the form's command, the source's path, size and modification time, so that a
re-run only runs the reader. Usage:

    damaged.py --dump build/release/tests/metadata_dump --work DIR [PDF...]
"""

import concurrent.futures
import hashlib
import json
import os
import re
import subprocess
import sys
import time
from collections import Counter, defaultdict
from dataclasses import dataclass

sys.dont_write_bytecode = True  # no __pycache__ in the source tree for the import below
from conformance import (CLASSIC, IN, OBJECT_STREAMS, OUT, Name, Other, Ref, harness_arguments,
                         harness_sources, literal_string, make_file, parse_dictionary, pdftk,
                         qpdf, run, selection, show)

# Bump when a form's making, a surgery or the cached answers change.
CACHE_VERSION = "1"
MIN_FILES = 5
SELECTED = 25  # corpus files taken, in the order of the SHA-1 of their paths

GHOSTSCRIPT = ("gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=pdfwrite", "-o", OUT,
               IN)


@dataclass(frozen=True)
class Form:
    """A way of making a corpus file into the intact file that the surgeries damage: command
    writes it (IN and OUT for the paths; None: the file as shipped, gunzipped); files is the
    slice of the selection it is made of (all files when named on the command line)."""
    name: str
    command: tuple
    files: slice


FORMS = [
    # As shipped: cross-reference streams (pdfTeX, LuaTeX) and classic tables (mbt PDF,
    # Ghostscript, Acrobat Distiller with a linearized file).
    Form("shipped", None, slice(0, SELECTED)),
    Form("classic", qpdf(CLASSIC), slice(0, SELECTED)),
    # Catalog and information dictionary in object streams, a cross-reference stream.
    Form("objstm", qpdf(OBJECT_STREAMS), slice(0, SELECTED)),
    # Classic tables with their own layout (trailer on lines of its own). Java: a few files.
    Form("pdftk", pdftk(), slice(0, 6)),
    # Every object rewritten, a new information dictionary and XMP packet. pdfwrite's /ID
    # and dates change from run to run; the cached file is kept.
    Form("gs", GHOSTSCRIPT, slice(6, 12)),
]


# --- PDF structure, as far as the surgeries need it ---------------------------------------

WHITESPACE = b"\x00\t\n\x0c\r "
END_OF_NAME = rb"(?=[\x00\t\n\x0c\r /<>\[\]()%{}])"
OBJECT_HEADER = re.compile(rb"(\d+)[\x00\t\n\x0c\r ]+(\d+)[\x00\t\n\x0c\r ]+obj" + END_OF_NAME)
INFO_KEY = re.compile(rb"/Info" + END_OF_NAME)
LINE_END = re.compile(rb"\r\n|\r|\n")


class NotApplicable(Exception):
    """The surgery does not apply to this file. expected: it follows from the file's kind (a
    cross-reference stream where a table is needed); otherwise the file surprised us, and a
    note says so."""

    def __init__(self, reason, expected=True):
        super().__init__(reason)
        self.expected = expected


def dictionary_end(data, start):
    """The index after the ">>" that closes the dictionary whose "<<" is at start (strings,
    hexadecimal strings and comments skipped)."""
    depth, i = 0, start
    while i < len(data):
        if data.startswith(b"<<", i):
            depth, i = depth + 1, i + 2
        elif data.startswith(b">>", i):
            depth, i = depth - 1, i + 2
            if depth == 0:
                return i
        elif data[i] == 0x28:  # (
            i = literal_string(data, i)[1]
        elif data[i] == 0x3C:  # < of a hexadecimal string
            i = data.index(b">", i) + 1
        elif data[i] == 0x25:  # %
            end = LINE_END.search(data, i)
            i = end.end() if end else len(data)
        else:
            i += 1
    raise ValueError(f"dictionary at {start} not closed")


def trailer_dictionaries(data):
    """The spans (start, end) of every dictionary that can name /Info: those after "trailer"
    (ISO 32000-1, 7.5.5) and those of cross-reference streams (7.5.8.2), wherever they are
    in the file."""
    spans = []
    for found in re.finditer(rb"trailer[\x00\t\n\x0c\r ]*<<", data):
        start = found.end() - 2
        spans.append((start, dictionary_end(data, start)))
    for found in re.finditer(rb"/Type[\x00\t\n\x0c\r ]*/XRef" + END_OF_NAME, data):
        window = max(0, found.start() - 65536)
        headers = list(OBJECT_HEADER.finditer(data, window, found.start()))
        if not headers:
            continue
        start = data.find(b"<<", headers[-1].end(), found.start())
        if start < 0 or data[headers[-1].end():start].strip(WHITESPACE):
            continue
        end = dictionary_end(data, start)
        if end > found.start():
            spans.append((start, end))
    return spans


def names_info(data):
    """Whether some trailer or cross-reference stream dictionary of data names /Info."""
    return any(INFO_KEY.search(data, start, end) for start, end in trailer_dictionaries(data))


def without_info(data):
    """data with the /Info key of every trailer and cross-reference stream dictionary
    renamed /Inf_: the same file without a named information dictionary, offsets intact."""
    out = bytearray(data)
    for start, end in trailer_dictionaries(data):
        for found in INFO_KEY.finditer(data, start, end):
            out[found.start():found.end()] = b"/Inf_"
    return bytes(out)


@dataclass
class Section:
    """A cross-reference section (ISO 32000-1, 7.5.4 and 7.5.8): where it starts, its kind,
    where its table's "trailer" keyword is, its trailer entries, and for a table its entries
    {number: (index of the 10 offset digits, offset, "n" or "f")}."""
    offset: int
    kind: str  # "table" or "stream"
    trailer_start: int = None
    trailer: dict = None
    entries: dict = None


SUBSECTION = re.compile(rb"[\x00\t\x0c\r\n ]*(\d+) (\d+)[ \t]*(?:\r\n|\r|\n)")
ENTRY = re.compile(rb"[\x00\t\x0c\r\n ]*(\d{10}) (\d{5}) ([nf])")
TRAILER = re.compile(rb"[\x00\t\x0c\r\n ]*trailer")


def read_section(data, offset):
    """The section at offset, whose table (if it is one) is parsed entry by entry."""
    if OBJECT_HEADER.match(data, offset):
        return Section(offset, "stream")
    if not data.startswith(b"xref", offset):
        raise NotApplicable(f"no cross-reference section at {offset}", False)
    entries, i = {}, offset + 4
    while True:
        trailer = TRAILER.match(data, i)
        if trailer:
            break
        subsection = SUBSECTION.match(data, i)
        if not subsection:
            raise NotApplicable(f"table at {offset} not understood at {i}", False)
        first, count = int(subsection.group(1)), int(subsection.group(2))
        i = subsection.end()
        for number in range(first, first + count):
            entry = ENTRY.match(data, i)
            if not entry:
                raise NotApplicable(f"entry {number} of the table at {offset} not "
                                    "understood", False)
            entries.setdefault(number, (entry.start(1), int(entry.group(1)),
                                        entry.group(3).decode()))
            i = entry.end()
    start = data.index(b"<<", trailer.end())
    trailer_entries = dict(parse_dictionary(data[start:dictionary_end(data, start)]))
    return Section(offset, "table", trailer.end() - len(b"trailer"), trailer_entries, entries)


class Intact:
    """An intact file and what the surgeries need of it: the last startxref (its keyword and
    the digits after it) and the chain of sections from there (ISO 32000-1, 7.5.5: /Prev),
    followed while the sections are tables. xref: the object index as qpdf --show-xref gives
    it, asked for by the surgeries that need it."""

    def __init__(self, data, pdf):
        self.data = data
        self.pdf = pdf
        found = list(re.finditer(rb"startxref[\x00\t\n\x0c\r ]*(\d+)", data))
        if not found:
            raise NotApplicable("no startxref", False)
        self.startxref = found[-1]
        self._sections = None
        self._xref = None

    @property
    def sections(self):
        if self._sections is None:
            self._sections, offset = [], int(self.startxref.group(1))
            while offset is not None and len(self._sections) < 32:
                section = read_section(self.data, offset)
                self._sections.append(section)
                previous = (section.trailer or {}).get(b"Prev")
                offset = int(previous.source) if isinstance(previous, Other) else None
        return self._sections

    @property
    def xref(self):
        """{(number, generation): offset, or None for an object in an object stream}."""
        if self._xref is None:
            self._xref = {}
            output = run(["qpdf", "--show-xref", self.pdf]).stdout.decode("latin-1")
            for line in output.splitlines():
                entry = re.match(r"(\d+)/(\d+): (?:uncompressed; offset = (\d+)|compressed)",
                                 line)
                if entry:
                    offset = entry.group(3)
                    self._xref[int(entry.group(1)), int(entry.group(2))] = (
                        int(offset) if offset else None)
        return self._xref


# --- Surgeries -------------------------------------------------------------------------------

def filler(length, seed):
    """length bytes of junk: text lines with a few binary bytes, none of which looks like PDF
    syntax that a scan could take for an object, a trailer or an end of file."""
    line = b"-- " + seed + b": transfer log, chunk %04d, \x00\x01\xfe\xff\x7f\x80\xa0 --\r\n"
    out, n = bytearray(), 0
    while len(out) < length:
        out += line % n
        n += 1
    return bytes(out[:length])


PREAMBLE = (b"X-Original-Name: manual.pdf\r\nContent-Type: application/pdf\r\n"
            b"Content-Transfer-Encoding: binary\r\n\r\n\x00\x00\x1b\xef\xbb\xbf\x89\xfe\r\n")


def preamble(intact):
    """Junk before "%PDF-": every offset of the file shifted by its length."""
    return PREAMBLE + intact.data


def zero_startxref(intact):
    """The number after the last "startxref" made 0: it points at the header."""
    digits = intact.startxref.span(1)
    return intact.data[:digits[0]] + b"0" + intact.data[digits[1]:]


def cut_after_last_object(intact):
    """The file truncated right after its last "endobj" and that keyword's line end:
    startxref is lost, and so are the classic table and trailer after the last object; a
    cross-reference stream, being an object, survives when it is the last one."""
    end = intact.data.rfind(b"endobj") + len(b"endobj")
    line_end = LINE_END.match(intact.data, end)
    end = line_end.end() if line_end else end
    if end == len(intact.data):
        raise NotApplicable("nothing after the last object", False)
    return intact.data[:end]


def junk_after_eof(length):
    """length bytes of junk after %%EOF."""
    def damage(intact):
        junk = filler(length, b"trailing bytes")
        distance = len(intact.data) + length - intact.startxref.start()
        # Short junk must leave startxref in the last 1024 bytes, long junk push it out.
        if (distance <= 1024) != (length < 1024):
            raise NotApplicable(f"startxref {distance} bytes before the end", False)
        return intact.data + junk
    return damage


def delete_last_section(intact):
    """The section that startxref points to deleted: a classic table from "xref" up to (not
    including) "trailer", so that startxref points at other bytes and the trailer survives;
    a cross-reference stream as the whole object, its dictionary with it."""
    section = intact.sections[0]
    if section.kind == "table":
        return intact.data[:section.offset] + intact.data[section.trailer_start:]
    end = intact.data.index(b"endobj", section.offset) + len(b"endobj")
    line_end = LINE_END.match(intact.data, end)
    end = line_end.end() if line_end else end
    return intact.data[:section.offset] + intact.data[end:]


def wrong_offset(key):
    """In the table that the trailer's chain reads first for the object of /Info or /Root,
    that object's offset replaced by the offset of the object written just before it (or just
    after it, when it comes first): same width, an object header there, but of another
    object."""
    def damage(intact):
        sections = intact.sections
        if sections[0].kind != "table":
            raise NotApplicable("the last section is a cross-reference stream")
        target = sections[0].trailer.get(key)
        if not isinstance(target, Ref):
            raise NotApplicable(f"the trailer has no /{key.decode()} reference", False)
        for section in sections:
            if section.kind != "table":
                break
            if target.number not in section.entries:
                continue
            digits, offset, kind = section.entries[target.number]
            if kind != "n":
                raise NotApplicable(f"/{key.decode()} object not in use in the table", False)
            others = sorted(o for n, (_, o, k) in section.entries.items()
                            if k == "n" and n != target.number and o != offset)
            before = [o for o in others if o < offset]
            wrong = before[-1] if before else others[0]
            return (intact.data[:digits] + b"%010d" % wrong + intact.data[digits + 10:])
        raise NotApplicable(f"/{key.decode()} object in no table of the chain", False)
    return damage


def hybrid(intact):
    """A hybrid-reference update (ISO 32000-1, 7.5.8.4) appended to a file whose only section
    is a cross-reference stream: a classic table listing the uncompressed objects as in use
    and those in object streams as free, a trailer with the stream's /Size, /Root, /Info and
    /ID and /XRefStm at the stream, no /Prev. The objects in object streams are found only
    through /XRefStm."""
    section = intact.sections[0]
    if section.kind != "stream":
        raise NotApplicable("the last section is a table")
    header = OBJECT_HEADER.match(intact.data, section.offset)
    start = intact.data.index(b"<<", header.end())
    stream = dict(parse_dictionary(intact.data[start:dictionary_end(intact.data, start)]))
    if b"Prev" in stream:
        raise NotApplicable("the cross-reference stream has /Prev", False)
    size = int(stream[b"Size"].source)
    xref = intact.xref
    rows = [b"0000000000 65535 f\r\n"]
    for number in range(1, size):
        in_use = [(g, o) for (n, g), o in xref.items() if n == number and o is not None]
        rows.append(b"%010d %05d n\r\n" % (in_use[0][1], in_use[0][0]) if in_use
                    else b"0000000000 00000 f\r\n")
    data = intact.data if intact.data.endswith((b"\n", b"\r")) else intact.data + b"\n"
    entries = b"".join(b"/%s %s" % (key, value_text(stream[key]))
                       for key in (b"Size", b"Root", b"Info", b"ID") if key in stream)
    return (data + b"xref\n0 %d\n" % size + b"".join(rows)
            + b"trailer\n<< " + entries + b" /XRefStm %d >>\n" % section.offset
            + b"startxref\n%d\n%%%%EOF\n" % len(data))


def value_text(value):
    if isinstance(value, Ref):
        return b"%d %d R" % (value.number, value.generation)
    if isinstance(value, Name):
        return b"/" + value.raw
    return value.source.encode("latin-1")


@dataclass(frozen=True)
class Surgery:
    """One way of damaging a file. recovered: the "recovered" flag the damaged file must
    read with. strict: what metadata_dump --strict must give for it (a load result, or
    INTACT for the intact file's values), None when not read in strict mode. forms: the
    forms it applies to, None for all."""
    name: str
    damage: object
    recovered: bool
    strict: object = None
    forms: tuple = None


INTACT = "intact values"

SURGERIES = [
    # Found with the header anywhere in the first 1024 bytes, offsets taken from it.
    Surgery("preamble", preamble, False, 101),
    Surgery("startxref-0", zero_startxref, True),
    Surgery("cut-after-last-object", cut_after_last_object, True),
    # startxref beyond the last 49 bytes but within the last 1024.
    Surgery("junk-400", junk_after_eof(400), False, 102),
    # startxref not in the last 1024 bytes: only the scan finds the sections.
    Surgery("junk-1500", junk_after_eof(1500), True),
    Surgery("no-xref-section", delete_last_section, True),
    Surgery("wrong-info-offset", wrong_offset(b"Info"), True),
    Surgery("wrong-root-offset", wrong_offset(b"Root"), True),
    Surgery("hybrid", hybrid, False, INTACT, ("objstm",)),
]


# --- Making and caching the files ----------------------------------------------------------

def ask_pdfinfo(pdf):
    """pdfinfo's page count and title (None for what it does not show), or None when it
    cannot read the file."""
    result = run(["pdfinfo", "-enc", "UTF-8", pdf], check=False)
    text = result.stdout.decode("utf-8", "replace")
    pages = re.search(r"^Pages:[ \t]*(\d+)", text, re.M)
    if result.returncode != 0 or not pages:
        return None
    title = re.search(r"^Title:[ \t]*(.*)$", text, re.M)
    return {"PageCount": pages.group(1),
            "Title": title.group(1).strip(" \t\r\n") or None if title else None}


def prepare(source, form, directory):
    """The files of one source in one form, and what is known of them; cached in directory:
    KEY.pdf (intact), KEY.noinfo.pdf, KEY.SURGERY.pdf and KEY.json."""
    stat = os.stat(source)
    key = hashlib.sha1(f"{CACHE_VERSION}|{form.command}|{source}|{stat.st_size}|"
                       f"{stat.st_mtime_ns}".encode()).hexdigest()[:20]
    base = os.path.join(directory, key)
    cached = base + ".json"
    if os.path.exists(cached):
        with open(cached, encoding="utf-8") as f:
            prepared = within(directory, json.load(f))
        if all(os.path.exists(p) for p in files_of(prepared)):
            return prepared
    if not os.path.exists(base + ".pdf"):
        make_file(source, form.command, base + ".pdf")
    with open(base + ".pdf", "rb") as f:
        data = f.read()
    # File names in the cache are relative to its folder, which can move.
    prepared = {"intact": key + ".pdf", "noinfo": key + ".noinfo.pdf", "surgeries": {},
                "pdfinfo": {"intact": ask_pdfinfo(base + ".pdf")}}
    with open(base + ".noinfo.pdf", "wb") as f:
        f.write(without_info(data))
    intact = Intact(data, base + ".pdf")
    for surgery in SURGERIES:
        if surgery.forms and form.name not in surgery.forms:
            continue
        try:
            damaged = surgery.damage(intact)
        except NotApplicable as why:
            prepared["surgeries"][surgery.name] = {"skipped": str(why),
                                                   "surprising": not why.expected}
            continue
        name = f"{key}.{surgery.name}.pdf"
        with open(os.path.join(directory, name), "wb") as f:
            f.write(damaged)
        prepared["surgeries"][surgery.name] = {"path": name, "names_info": names_info(damaged)}
        prepared["pdfinfo"][surgery.name] = ask_pdfinfo(os.path.join(directory, name))
    with open(cached + ".part", "w", encoding="utf-8") as f:
        json.dump(prepared, f)
    os.replace(cached + ".part", cached)
    return within(directory, prepared)


def within(directory, prepared):
    """prepared with its file names made paths in directory."""
    prepared["intact"] = os.path.join(directory, prepared["intact"])
    prepared["noinfo"] = os.path.join(directory, prepared["noinfo"])
    for made in prepared["surgeries"].values():
        if "path" in made:
            made["path"] = os.path.join(directory, made["path"])
    return prepared


def files_of(prepared):
    return ([prepared["intact"], prepared["noinfo"]]
            + [s["path"] for s in prepared["surgeries"].values() if "path" in s])


def prepare_all(chosen, work, jobs, explicit, failures):
    """{(form name, source): prepared}, one pool for every form; cached files of sources no
    longer chosen are removed."""
    prepared = {}
    with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
        futures = {}
        for form in FORMS:
            directory = os.path.join(work, form.name)
            os.makedirs(directory, exist_ok=True)
            for source in chosen[form.name]:
                futures[pool.submit(prepare, source, form, directory)] = (form, source)
        for future in concurrent.futures.as_completed(futures):
            form, source = futures[future]
            try:
                prepared[form.name, source] = future.result()
            except (RuntimeError, subprocess.SubprocessError) as error:
                print(f"skipped [{form.name}] {source}: could not make it: {error}")
            except (ValueError, LookupError, NotApplicable) as error:
                failures.append(f"[{form.name}] {source}: structure not understood: {error!r}")
    for form in FORMS if not explicit else []:
        directory = os.path.join(work, form.name)
        keep = {os.path.basename(p["intact"])[:-4] for (name, _), p in prepared.items()
                if name == form.name}
        for name in os.listdir(directory):
            if name.split(".")[0] not in keep:
                os.remove(os.path.join(directory, name))
    return prepared


# --- Reading -------------------------------------------------------------------------------

@dataclass
class Record:
    result: int
    message: str
    values: dict
    references: set
    recovered: object  # True, False, or None when metadata_dump does not say


def dump_batch(program, strict, paths):
    """({path: Record}, problems) from one run of metadata_dump. The files that a crash or a
    hang left without a line are read again one by one; those still without one are left
    out. problems: what the runs said on stderr, or their exit status, when not 0 (a
    sanitizer's report, an exception)."""
    option = ["--strict"] if strict else []
    problems = []

    def once(batch, timeout):
        try:
            output = subprocess.run([program, *option, *batch], capture_output=True,
                                    timeout=timeout)
        except subprocess.TimeoutExpired:
            problems.append(f"metadata_dump {' '.join(option + batch[:1])}... hung: killed "
                            f"after {timeout} s")
            return {}
        if output.returncode != 0 or output.stderr:
            problems.append(f"metadata_dump {' '.join(option + batch[:1])}... exited with "
                            f"{output.returncode}: "
                            f"{output.stderr.decode('utf-8', 'replace').strip()[:2000]}")
        records = {}
        for line in output.stdout.decode("ascii", "replace").splitlines():
            try:
                record = json.loads(line)
            except json.JSONDecodeError:
                continue
            records[record["file"]] = Record(record["result"], record["message"],
                                             record["values"], set(record["references"]),
                                             record.get("recovered"))
        return records

    records = once(paths, 600)
    for path in [p for p in paths if p not in records]:
        records.update(once([path], 60))
    return records, problems


def dump_all(program, strict, paths, jobs, failures):
    """{path: Record} for every path that metadata_dump gave a line for, and for "--strict"
    when the program does not know the option and reads it as a file name."""
    records = {}
    batches = [paths[i:i + 100] for i in range(0, len(paths), 100)]
    with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
        for batch, problems in pool.map(lambda b: dump_batch(program, strict, b), batches):
            records.update(batch)
            failures.extend(problems)
    return records


# --- Checking ------------------------------------------------------------------------------

class Report:
    """Counts per surgery (and for the intact files), notes grouped by what they say, and
    the failures, one line each."""

    def __init__(self):
        self.tally = defaultdict(Counter)  # surgery (or "intact") -> column -> count
        self.failures = []
        self.notes = defaultdict(list)  # (surgery, what) -> examples
        self.flag_missing = False

    def note(self, row, what, example):
        self.notes[row, what].append(example)

    def fail(self, row, label, what, path):
        self.tally[row]["failures"] += 1
        self.failures.append(f"{label} {what} (the file: {path})")


def compare_values(report, row, label, path, ours, expected):
    """Fails every key whose value or reference flag differs; True when none does."""
    equal = True
    for key in sorted(set(ours.values) | set(expected.values)):
        mine, theirs = ours.values.get(key), expected.values.get(key)
        my_ref, their_ref = key in ours.references, key in expected.references
        if mine == theirs and my_ref == their_ref:
            continue
        equal = False
        report.fail(row, label, f"{key}: ours {show(mine)}"
                    f"{' (unresolved reference)' if my_ref else ''}, expected {show(theirs)}"
                    f"{' (unresolved reference)' if their_ref else ''}", path)
    return equal


def check_read(report, row, label, path, record, expected, recovered):
    """A file read in the ordinary mode against the expected record and "recovered" flag;
    True when its values are equal."""
    if record is None:
        report.fail(row, label, "result: no line from metadata_dump (crashed or hung)", path)
        return False
    if record.result != 0:
        report.fail(row, label, f"result: ours {record.result} ({record.message}), "
                    "expected 0", path)
        return False
    equal = compare_values(report, row, label, path, record, expected)
    if record.recovered is None:
        report.flag_missing = True
    elif record.recovered:
        report.tally[row]["recovered"] += 1
    if record.recovered is not None and record.recovered != recovered:
        report.fail(row, label, f"recovered: ours {str(record.recovered).lower()}, expected "
                    f"{str(recovered).lower()}", path)
    return equal


def check_strict(report, row, label, path, record, expected, intact):
    """A file read by metadata_dump --strict: expected is a load result, or INTACT; strict
    mode never recovers."""
    label += " --strict"
    if record is None:
        report.fail(row, label, "result: no line from metadata_dump (crashed or hung)", path)
        return
    wanted = 0 if expected == INTACT else expected
    if record.result != wanted:
        report.fail(row, label, f"result: ours {record.result} ({record.message}), expected "
                    f"{wanted}", path)
    elif expected == INTACT:
        if compare_values(report, row, label, path, record, intact):
            report.tally[row]["strict equal"] += 1
    else:
        report.tally[row]["strict equal"] += 1
    if record.recovered:
        report.fail(row, label, "recovered: ours true, expected false", path)


def check_pdfinfo(report, row, label, path, ours, theirs, intact_ours, intact_theirs, keys):
    """pdfinfo against us on a damaged file that we read as expected, for the keys on which
    the two agree for the intact file. A file pdfinfo cannot read, or a value it no longer
    finds (poppler, rebuilding a broken index, can lose the information dictionary), is a
    note; another value is a failure."""
    keys = [k for k in keys if intact_theirs and intact_theirs[k] is not None
            and intact_theirs[k] == intact_ours.values.get(k)]
    if not keys:
        return
    if theirs is None:
        report.note(row, "pdfinfo cannot read damaged files that we read", f"{label} "
                    f"(the file: {path})")
        report.tally[row]["pdfinfo missed"] += 1
        return
    agree = True
    for key in keys:
        if theirs[key] == ours.values.get(key):
            continue
        agree = False
        if theirs[key] is None:
            report.note(row, f"pdfinfo finds no {key} in damaged files where we find the "
                        f"intact one", f"{label} (the file: {path})")
            report.tally[row]["pdfinfo missed"] += 1
        else:
            report.fail(row, label, f"{key}: ours {show(ours.values.get(key))}, pdfinfo "
                        f"{show(theirs[key])} (for the intact file both "
                        f"{show(intact_theirs[key])})", path)
    report.tally[row]["pdfinfo agree"] += agree


def check_source(report, form, source, prepared, normal, strict):
    """Every read of one source in one form."""
    label = f"[{form.name}] {source}"
    intact_path = prepared["intact"]
    intact = normal.get(intact_path)
    report.tally["intact"]["files"] += 1
    if intact is None or intact.result != 0:
        what = (f"ours {intact.result} ({intact.message})" if intact else
                "no line from metadata_dump (crashed or hung)")
        report.fail("intact", f"{label} intact", f"result: {what}, expected 0", intact_path)
        return
    if intact.recovered is None:
        report.flag_missing = True
    elif intact.recovered:
        report.tally["intact"]["recovered"] += 1
        report.fail("intact", f"{label} intact", "recovered: ours true, expected false",
                    intact_path)
    report.tally["intact"]["equal"] += 1
    if strict is not None:
        check_strict(report, "intact", f"{label} intact", intact_path,
                     strict.get(intact_path), INTACT, intact)
    # The copy without a named information dictionary is an ordinary file: read without the
    # scan. Its values are the expectation of the damaged files that lost every /Info.
    noinfo = normal.get(prepared["noinfo"])
    noinfo_ok = noinfo is not None and noinfo.result == 0
    if not noinfo_ok:
        what = (f"ours {noinfo.result} ({noinfo.message})" if noinfo else
                "no line from metadata_dump (crashed or hung)")
        report.fail("intact", f"{label} /Info renamed", f"result: {what}, expected 0",
                    prepared["noinfo"])
    elif noinfo.recovered:
        report.fail("intact", f"{label} /Info renamed", "recovered: ours true, expected false",
                    prepared["noinfo"])
    pdfinfo = prepared["pdfinfo"]
    if pdfinfo["intact"] is not None:
        report.tally["intact"]["pdfinfo agree"] += all(
            pdfinfo["intact"][k] == intact.values.get(k) for k in ("PageCount", "Title"))

    for surgery in SURGERIES:
        made = prepared["surgeries"].get(surgery.name)
        if made is None:
            continue
        row = report.tally[surgery.name]
        if "skipped" in made:
            row["not applicable"] += 1
            if made["surprising"]:
                report.note(surgery.name, "not applied", f"{label}: {made['skipped']}")
            continue
        path = made["path"]
        expected, keys = intact, ("PageCount", "Title")
        if not made["names_info"]:
            row["no Info"] += 1
            keys = ("PageCount",)  # pdfinfo shows only the information dictionary's title
            if not noinfo_ok:
                report.fail(surgery.name, f"{label} {surgery.name}", "expected values "
                            "unknown: the copy with /Info renamed does not read",
                            prepared["noinfo"])
                continue
            expected = noinfo
        row["files"] += 1
        record = normal.get(path)
        if check_read(report, surgery.name, f"{label} {surgery.name}", path, record,
                      expected, surgery.recovered):
            row["equal"] += 1
            check_pdfinfo(report, surgery.name, f"{label} {surgery.name}", path, record,
                          pdfinfo.get(surgery.name), intact, pdfinfo["intact"], keys)
        if strict is not None and surgery.strict is not None:
            check_strict(report, surgery.name, f"{label} {surgery.name}", path,
                         strict.get(path), surgery.strict, intact)


COLUMNS = ["files", "equal", "recovered", "no Info", "strict equal", "pdfinfo agree",
           "pdfinfo missed", "not applicable", "failures"]


def print_summary(report, minimum):
    """The table of counts per surgery; returns the surgeries with too few files. For the
    intact files, "equal" counts those that read, "pdfinfo agree" those whose page count and
    title pdfinfo gives alike."""
    print(f"\n{'surgery':<22} " + " ".join(f"{c:>14}" for c in COLUMNS))
    too_few = []
    for name in ["intact"] + [s.name for s in SURGERIES]:
        tally = report.tally[name]
        print(f"{name:<22} " + " ".join(f"{tally[c]:>14}" for c in COLUMNS))
        if name != "intact" and tally["files"] < minimum:
            too_few.append(f"{name} ({tally['files']} < {minimum})")
    return too_few


def main():
    args = harness_arguments(__doc__.split("\n\n")[0], "note").parse_args()
    started = time.monotonic()
    sources = harness_sources(args, [f.command for f in FORMS])
    if sources is None:
        return 1

    report = Report()
    chosen = {f.name: selection(sources, f, bool(args.files)) for f in FORMS}
    prepared = prepare_all(chosen, args.work, args.jobs, bool(args.files), report.failures)
    normal_paths = [p for entry in prepared.values() for p in files_of(entry)]
    strict_paths = [entry["intact"] for entry in prepared.values()] + [
        made["path"] for entry in prepared.values()
        for surgery in SURGERIES if surgery.strict is not None
        for made in [entry["surgeries"].get(surgery.name, {})] if "path" in made]
    normal = dump_all(args.dump, False, normal_paths, args.jobs, report.failures)
    strict = dump_all(args.dump, True, strict_paths, args.jobs, report.failures)
    if "--strict" in strict:  # read as a file name: an older metadata_dump
        report.failures.append("metadata_dump does not take --strict: strict mode not checked")
        strict = None

    for form in FORMS:
        for source in chosen[form.name]:
            if (form.name, source) in prepared:
                check_source(report, form, source, prepared[form.name, source], normal,
                             strict)
    if report.flag_missing:
        report.failures.append('metadata_dump writes no "recovered" member: the flag was not '
                               "checked")

    for (row, what), examples in report.notes.items():
        print(f"note: {row}: {what}: {len(examples)}")
        for line in examples[:None if args.examples < 0 else args.examples]:
            print(f"    {line}")
    for line in report.failures:
        print(f"FAILED {line}")
    too_few = print_summary(report, 0 if args.files else MIN_FILES)
    total = Counter()
    for name, tally in report.tally.items():
        if name != "intact":
            total.update(tally)
    print(f"\ndamaged: {len(prepared)} intact files in {len(FORMS)} forms, {total['files']} "
          f"damaged files read: {total['equal']} equal, {total['recovered']} recovered; "
          f"{len(report.failures)} failures; {time.monotonic() - started:.1f} s")
    if too_few:
        print(f"FAILED: too few files compared in {', '.join(too_few)}")
    return 1 if report.failures or too_few else 0


if __name__ == "__main__":
    sys.exit(main())
