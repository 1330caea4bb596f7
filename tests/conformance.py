#!/usr/bin/env python3
"""Real-world conformance: the reader against qpdf, on PDFs made by real tools.

The corpus is every PDF (and gzipped PDF) that the documentation packages of CORPUS_PACKAGES
in scripts/lib.sh install, one path per distinct content. Each file is rewritten by qpdf into
every variant of VARIANTS (today: classic cross-reference tables, no object streams); each
variant file is read by qpdf (trailer, /Info, catalog, page tree root, XMP packet, page count)
and by the reader (metadata_dump, one process for all files), and nine keys are compared: the
eight of INFO_KEYS and PageCount.

Expected values start from the ordinary reading of qpdf's output (ISO 32000-1 text strings,
names decoded, keys paired as written, XMP parsed as XML, pages counted) and are then changed
by the reader's rules, each with a name: bytes read as ISO-8859-1, UTF-16 odd byte dropped,
blanks trimmed, first duplicate key wins, name value read as the next key, referenced strings
narrowed, the page tree root's /Count, and for XMP: element prefix, attribute form, "()",
malformed UTF-8, untyped metadata stream, entities left as written, rdf:li markup kept.
Every (file, key) ends as a match, a difference explained by named rules, or an unexplained
difference; the test fails on an unexplained difference, on a load result other than the
variant's expected one, and on fewer than MIN_FILES files compared in a variant.

Variant files and qpdf's answers are cached under --work, keyed by source path, size and
modification time, so that a re-run only runs the reader. Usage:

    conformance.py --dump build/release/tests/metadata_dump --work DIR [--examples -1] [PDF...]
"""

import argparse
import concurrent.futures
import gzip
import hashlib
import html
import json
import os
import re
import shutil
import subprocess
import sys
import time
import xml.etree.ElementTree as ET
from collections import Counter, defaultdict
from dataclasses import dataclass

MIN_FILES = 100
# Bump when the cached qpdf answers change shape.
CACHE_VERSION = "1"

INFO_KEYS = ["Title", "Author", "Subject", "Keywords", "Creator", "Producer", "CreationDate",
             "ModDate"]
KEYS = INFO_KEYS + ["PageCount"]

DC = "http://purl.org/dc/elements/1.1/"
PDF = "http://ns.adobe.com/pdf/1.3/"
XMP = "http://ns.adobe.com/xap/1.0/"
RDF = "http://www.w3.org/1999/02/22-rdf-syntax-ns#"
# Key -> (namespace, local name, the qualified name the reader searches for).
XMP_ELEMENTS = {
    "Title": (DC, "title", "dc:title"),
    "Author": (DC, "creator", "dc:creator"),
    "Subject": (DC, "description", "dc:description"),
    "Keywords": (PDF, "Keywords", "pdf:Keywords"),
    "Producer": (PDF, "Producer", "pdf:Producer"),
    "Creator": (XMP, "CreatorTool", "xmp:CreatorTool"),
    "CreationDate": (XMP, "CreateDate", "xmp:CreateDate"),
    "ModDate": (XMP, "ModifyDate", "xmp:ModifyDate"),
}


@dataclass(frozen=True)
class Variant:
    """One way of rewriting a corpus file; qpdf_args None means the file as shipped."""
    name: str
    qpdf_args: tuple
    expected_result: int = 0


# Later variants (originals with object streams, --object-streams=generate, RC4-encrypted
# copies) are added here.
VARIANTS = [
    Variant("classic", ("--object-streams=disable",)),
]


# --- PDF syntax (ISO 32000-1, 7.2 and 7.3), enough for qpdf's unparsed objects -------------

WHITESPACE = b"\x00\t\n\x0c\r "
DELIMITERS = b"()<>[]{}/%"


@dataclass
class Token:
    kind: str  # "<<", ">>", "[", "]", "name", "string", "word"
    value: bytes  # name: bytes after "/"; string: decoded bytes; word: the word
    start: int
    end: int


@dataclass
class Name:
    raw: bytes  # #xx not decoded

    def text(self):
        decoded = re.sub(rb"#([0-9A-Fa-f]{2})", lambda m: bytes([int(m.group(1), 16)]),
                         self.raw)
        return decoded.decode("latin-1")


@dataclass
class String:
    data: bytes


@dataclass
class Ref:
    number: int
    generation: int


@dataclass
class Other:
    source: str  # numbers, booleans, null, arrays and dictionaries: their text


def as_bytes(text):
    return text.encode("latin-1") if isinstance(text, str) else text


def literal_string(text, i):
    """Decodes the literal string whose "(" is at i; returns (bytes, index after ")")."""
    out = bytearray()
    depth = 1
    i += 1
    while i < len(text):
        c = text[i]
        if c == 0x5C:  # backslash
            i += 1
            e = text[i:i + 1]
            if e in (b"\r", b"\n"):  # line continuation
                i += 2 if text[i:i + 2] == b"\r\n" else 1
                continue
            simple = {b"n": b"\n", b"r": b"\r", b"t": b"\t", b"b": b"\b", b"f": b"\f"}
            if e in simple:
                out += simple[e]
                i += 1
            elif e.isdigit() and e < b"8":
                digits = re.match(rb"[0-7]{1,3}", text[i:i + 3]).group()
                out.append(int(digits, 8) & 0xFF)
                i += len(digits)
            else:  # \( \) \\ and an unknown escape: the character itself
                out += e
                i += 1
            continue
        if c == 0x0D:  # an end of line inside the string reads as LF
            out += b"\n"
            i += 2 if text[i:i + 2] == b"\r\n" else 1
            continue
        if c == 0x28:
            depth += 1
        elif c == 0x29:
            depth -= 1
            if depth == 0:
                return bytes(out), i + 1
        out.append(c)
        i += 1
    raise ValueError("unterminated literal string")


def tokenize(text):
    """The tokens of text (bytes, or str holding bytes as latin-1)."""
    tokens = []
    i = 0
    while i < len(text):
        c = text[i:i + 1]
        if c in WHITESPACE:
            i += 1
        elif c == b"%":
            while i < len(text) and text[i:i + 1] not in b"\r\n":
                i += 1
        elif text.startswith(b"<<", i) or text.startswith(b">>", i):
            tokens.append(Token(text[i:i + 2].decode(), b"", i, i + 2))
            i += 2
        elif c in (b"[", b"]"):
            tokens.append(Token(c.decode(), b"", i, i + 1))
            i += 1
        elif c == b"(":
            data, end = literal_string(text, i)
            tokens.append(Token("string", data, i, end))
            i = end
        elif c == b"<":
            end = text.index(b">", i)
            digits = re.sub(rb"[^0-9A-Fa-f]", b"", text[i + 1:end])
            if len(digits) % 2:
                digits += b"0"
            tokens.append(Token("string", bytes.fromhex(digits.decode()), i, end + 1))
            i = end + 1
        else:
            start = i
            i += 1
            while i < len(text) and text[i:i + 1] not in WHITESPACE + DELIMITERS:
                i += 1
            if c == b"/":
                tokens.append(Token("name", text[start + 1:i], start, i))
            else:
                tokens.append(Token("word", text[start:i], start, i))
    return tokens


def parse_value(text, tokens, i):
    """Parses the object starting at tokens[i]; returns (value, next index)."""
    token = tokens[i]
    if token.kind == "name":
        return Name(token.value), i + 1
    if token.kind == "string":
        return String(token.value), i + 1
    if token.kind in ("<<", "["):
        closing = {"<<": ">>", "[": "]"}[token.kind]
        j = i + 1
        while tokens[j].kind != closing:
            _, j = parse_value(text, tokens, j)
        return Other(text[token.start:tokens[j].end].decode("latin-1")), j + 1
    if (token.kind == "word" and i + 2 < len(tokens) and tokens[i + 2].value == b"R"
            and token.value.isdigit() and tokens[i + 1].value.isdigit()):
        return Ref(int(token.value), int(tokens[i + 1].value)), i + 3
    return Other(token.value.decode("latin-1")), i + 1


def parse_dictionary(text):
    """The entries of the first dictionary in text, in order, duplicates kept."""
    text = as_bytes(text)
    tokens = tokenize(text)
    i = next(n for n, t in enumerate(tokens) if t.kind == "<<") + 1
    entries = []
    while tokens[i].kind != ">>":
        key = tokens[i].value
        value, i = parse_value(text, tokens, i + 1)
        entries.append((key, value))
    return entries


# --- Text decoding ------------------------------------------------------------------------

# PDFDocEncoding (ISO 32000-1, Annex D) where it differs from ISO-8859-1.
PDFDOC = {0x18: "\u02d8", 0x19: "\u02c7", 0x1A: "\u02c6", 0x1B: "\u02d9", 0x1C: "\u02dd",
          0x1D: "\u02db", 0x1E: "\u02da", 0x1F: "\u02dc", 0x80: "\u2022", 0x81: "\u2020",
          0x82: "\u2021", 0x83: "\u2026", 0x84: "\u2014", 0x85: "\u2013", 0x86: "\u0192",
          0x87: "\u2044", 0x88: "\u2039", 0x89: "\u203a", 0x8A: "\u2212", 0x8B: "\u2030",
          0x8C: "\u201e", 0x8D: "\u201c", 0x8E: "\u201d", 0x8F: "\u2018", 0x90: "\u2019",
          0x91: "\u201a", 0x92: "\u2122", 0x93: "\ufb01", 0x94: "\ufb02", 0x95: "\u0141",
          0x96: "\u0152", 0x97: "\u0160", 0x98: "\u0178", 0x99: "\u017d", 0x9A: "\u0131",
          0x9B: "\u0142", 0x9C: "\u0153", 0x9D: "\u0161", 0x9E: "\u017e", 0xA0: "\u20ac"}
BLANKS = " \r\n\t"


def text_string(data):
    """A text string as ISO 32000-1, 7.9.2.2 (and PDF 2.0's UTF-8 mark) reads it; what can't
    be decoded shows as U+FFFD."""
    if data.startswith(b"\xfe\xff"):
        return data[2:].decode("utf-16-be", "replace")
    if data.startswith(b"\xef\xbb\xbf"):
        return data[3:].decode("utf-8", "replace")
    return "".join(PDFDOC.get(b, chr(b)) for b in data)


def reader_text(data):
    """The reader's one rule: UTF-16BE after FE FF (an odd last byte dropped, unpaired
    surrogates kept), otherwise one code unit per byte."""
    if data.startswith(b"\xfe\xff"):
        return data[2:len(data) - len(data) % 2].decode("utf-16-be", "surrogatepass")
    return data.decode("latin-1")


def decoding_rule(data):
    if data.startswith(b"\xfe\xff"):
        return "UTF-16 odd last byte dropped, unpaired surrogates kept"
    return "bytes read as ISO-8859-1, not PDFDocEncoding"


class Expectation:
    """A value as the ordinary reading gives it (None: absent), then changed step by step by
    the reader's named rules. origin is where it comes from ("Info", "XMP", "page tree"); an
    XMP value also keeps its rdf:li items, if any."""

    def __init__(self, standard, origin="Info", items=None):
        self.standard = standard
        self.value = standard
        self.rules = []
        self.origin = origin
        self.items = items

    def apply(self, rule, value):
        if value != self.value:
            self.rules.append(rule)
            self.value = value
        return self


def trimmed(expectation):
    value = expectation.value
    return expectation.apply("blanks trimmed at both ends",
                             value.strip(BLANKS) if value is not None else None)


# --- Expected values: the information dictionary -------------------------------------------

def first_object(text):
    """The first object of qpdf's --show-object output."""
    text = as_bytes(text)
    tokens = tokenize(text)
    return parse_value(text, tokens, 0)[0] if tokens else None


def expect_value(value, objects):
    if isinstance(value, String):
        return trimmed(Expectation(text_string(value.data)).apply(
            decoding_rule(value.data), reader_text(value.data)))
    if isinstance(value, Ref):
        target = objects.get(f"{value.number},{value.generation}")
        target = first_object(target) if target is not None else None
        if not isinstance(target, (String, Other)) or getattr(target, "source", "") == "null":
            return Expectation(None).apply("unresolved reference kept as its text",
                                           f"{value.number} {value.generation} R")
        if isinstance(target, Other):
            return trimmed(Expectation(target.source))
        narrowed = "".join(chr(ord(c) & 0xFF) for c in reader_text(target.data))
        return trimmed(Expectation(text_string(target.data))
                       .apply(decoding_rule(target.data), reader_text(target.data))
                       .apply("referenced string narrowed to its low bytes", narrowed))
    if isinstance(value, Name):
        return Expectation(value.text())
    return trimmed(Expectation(value.source))


def info_expectations(text, objects):
    """{key: Expectation} for the information dictionary, as the reader enters it: the first
    of duplicate keys wins, and a name value under a key other than Filter/Type/Subtype
    leaves that key empty and is itself read as the next key. The ordinary reading pairs
    keys and values as written, the last duplicate winning (as qpdf does)."""
    text = as_bytes(text)
    ordinary = {key: expect_value(value, objects).standard
                for key, value in parse_dictionary(text)}
    entries = {}

    def enter(key, expectation, rule):
        if key in entries:
            return
        standard = ordinary.get(key)
        if standard != expectation.standard:  # the reader paired this key with another value
            paired = expectation
            expectation = Expectation(standard)
            if paired.value != standard:
                expectation.rules, expectation.value = [rule] + paired.rules, paired.value
        entries[key] = expectation

    tokens = tokenize(text)
    i = next(n for n, t in enumerate(tokens) if t.kind == "<<") + 1
    while i < len(tokens) and tokens[i].kind == "name":
        key, i = tokens[i].value, i + 1
        rule = "the first of duplicate keys wins"
        while i < len(tokens) and tokens[i].kind != ">>":
            value, i = parse_value(text, tokens, i)
            if isinstance(value, Name) and key not in (b"Filter", b"Type", b"Subtype"):
                rule = "name value read as the next key"
                enter(key, Expectation(value.text()).apply(rule, ""), rule)
                key = value.raw
                continue
            enter(key, expect_value(value, objects), rule)
            break
    return {key.decode("latin-1"): e for key, e in entries.items()}


# --- Expected values: the XMP packet ------------------------------------------------------

def element_value(element):
    """(text, items): an element's text as an XMP reader shows it (None when empty), and the
    rdf:li items of an rdf:Alt, rdf:Seq or rdf:Bag inside it (None without one)."""
    text, items = (element.text or "").strip(BLANKS), None
    for container in ("Alt", "Seq", "Bag"):
        found = element.find(f"{{{RDF}}}{container}")
        if found is not None:
            items = [(li.text or "").strip(BLANKS) for li in found.findall(f"{{{RDF}}}li")]
            text = "; ".join(item for item in items if item)
            break
    return text or None, items


class XmpPacket:
    """The catalog's metadata stream (its decoded data and its dictionary's text), read by
    an XML parser."""

    def __init__(self, data, dictionary):
        self.problem = None  # a rule that makes the reader ignore the whole packet
        try:
            self.text = data.decode("utf-8")
        except UnicodeDecodeError:
            self.text = data.decode("utf-8", "replace")
            self.problem = "XMP packet not valid UTF-8: ignored"
        entries = dict(parse_dictionary(dictionary)) if dictionary else {}
        if (getattr(entries.get(b"Type"), "raw", None) != b"Metadata"
                or getattr(entries.get(b"Subtype"), "raw", None) != b"XML"):
            self.problem = "metadata stream not /Type /Metadata /Subtype /XML: ignored"
        try:
            self.root = ET.fromstring(self.text)
        except ET.ParseError:
            self.root = None  # no value to expect; what the reader finds shows as unexplained

    def expectation(self, key):
        namespace, local, qualified = XMP_ELEMENTS[key]
        tag = f"{{{namespace}}}{local}"
        element = next(self.root.iter(tag), None) if self.root is not None else None
        if element is not None:
            text, items = element_value(element)
            expectation = Expectation(text, "XMP", items)
            if f"<{qualified}" not in self.text:
                prefix = qualified.split(":")[0]
                expectation.apply(f"element under a prefix other than {prefix}: not found",
                                  None)
            expectation.apply('the text "()" ignored',
                              None if expectation.value == "()" else expectation.value)
        else:
            attribute = None
            if self.root is not None:
                attribute = next((e.get(tag) for e in self.root.iter() if e.get(tag) is not None),
                                 None)
            expectation = Expectation(attribute or None, "XMP").apply(
                "written as an attribute: not read", None)
        if self.problem:
            expectation.apply(self.problem, None)
        return expectation


def explain_xmp(ours, expectation):
    """The rules that explain how the reader's textual XMP value differs from the XML
    parser's, or None."""
    items = expectation.items
    if expectation.origin != "XMP" or ours is None or expectation.value is None:
        return None
    rules = []
    if items is not None and len(items) > 1:
        parts = re.split(r"[ \t\r\n]*</rdf:li>[ \t\r\n]*<rdf:li\b[^>]*>[ \t\r\n]*", ours)
        if [html.unescape(p) for p in parts] != items:
            return None
        rules.append("rdf:li items kept with the markup between them")
    elif html.unescape(ours) != expectation.value:
        return None
    if html.unescape(ours) != ours:
        rules.append("XML entities left as written")
    return rules


# --- Asking qpdf --------------------------------------------------------------------------

def run(command, check=True):
    result = subprocess.run(command, capture_output=True, timeout=300)
    # qpdf: 0 success, 3 success with warnings, 2 failure.
    if check and result.returncode not in (0, 3):
        raise RuntimeError(f"{' '.join(map(str, command))}: "
                           f"{result.stderr.decode('utf-8', 'replace').strip()}")
    return result


def ask_qpdf(pdf):
    """qpdf's view of what the reader needs; bytes are kept as latin-1 text."""
    def show(obj, *extra):
        return run(["qpdf", f"--show-object={obj}", *extra, pdf]).stdout.decode("latin-1")

    answers = {"trailer": show("trailer"), "objects": {}, "metadata": None}
    objects = answers["objects"]

    def fetch(value):
        if isinstance(value, Ref):
            number = f"{value.number},{value.generation}"
            if number not in objects:
                objects[number] = show(number)
            return objects[number]
        return value.source if isinstance(value, Other) else None

    def dictionary(text):
        return dict(parse_dictionary(text)) if text and "<<" in text else {}

    trailer = dictionary(answers["trailer"])
    info = fetch(trailer.get(b"Info", Other("null")))
    for value in dictionary(info).values():
        fetch(value)
    root = dictionary(fetch(trailer.get(b"Root", Other("null"))))
    fetch(root.get(b"Pages", Other("null")))
    metadata = root.get(b"Metadata")
    if isinstance(metadata, Ref) and fetch(metadata).startswith("Object is stream"):
        answers["metadata"] = show(f"{metadata.number},{metadata.generation}",
                                   "--filtered-stream-data")
    answers["npages"] = int(run(["qpdf", "--show-npages", pdf]).stdout)
    pdfinfo = run(["pdfinfo", pdf], check=False).stdout.decode("latin-1")
    pages = re.search(r"^Pages:\s+(\d+)", pdfinfo, re.M)
    answers["pdfinfo_pages"] = int(pages.group(1)) if pages else None
    return answers


def expectations(answers):
    """{key: Expectation} for the nine keys."""
    objects = answers["objects"]

    def dictionary(value):
        """The text of a dictionary given directly or by reference; None for anything else."""
        if isinstance(value, Ref):
            value = Other(objects.get(f"{value.number},{value.generation}", ""))
        text = getattr(value, "source", "")
        return text if "<<" in text else None

    trailer = dict(parse_dictionary(answers["trailer"]))
    info_text = dictionary(trailer.get(b"Info"))
    info = info_expectations(info_text, objects) if info_text else {}
    root_text = dictionary(trailer.get(b"Root"))
    root = dict(parse_dictionary(root_text)) if root_text else {}

    result = {key: info[key] for key in INFO_KEYS if key in info}
    missing = [key for key in INFO_KEYS if key not in info]
    if missing and answers["metadata"] is not None:
        packet = XmpPacket(answers["metadata"].encode("latin-1"),
                           dictionary(root[b"Metadata"]))
        for key in missing:
            result[key] = packet.expectation(key)
    if "PageCount" in info:
        result["PageCount"] = info["PageCount"]
    else:
        pages_text = dictionary(root.get(b"Pages"))
        count = dict(parse_dictionary(pages_text)).get(b"Count") if pages_text else None
        result["PageCount"] = Expectation(str(answers["npages"]), "page tree").apply(
            "/Count of the page tree root, not the pages counted",
            count.source if isinstance(count, Other) else None)
    return result


# --- Corpus and variants ------------------------------------------------------------------

def corpus_packages(lib_sh):
    """The CORPUS_PACKAGES array of scripts/lib.sh."""
    text = open(lib_sh, encoding="utf-8").read()
    body = re.search(r"^CORPUS_PACKAGES=\((.*?)\)", text, re.M | re.S).group(1)
    return [word for line in body.splitlines() for word in line.split("#")[0].split()]


def corpus_files(packages):
    """(files, missing packages): the installed PDFs of the packages, one path per distinct
    content, in a stable order."""
    files, missing, seen = [], [], set()
    for package in packages:
        listing = subprocess.run(["dpkg-query", "-L", package], capture_output=True, text=True)
        if listing.returncode != 0:
            missing.append(package)
            continue
        for path in sorted(listing.stdout.splitlines()):
            if not path.endswith((".pdf", ".pdf.gz")) or not os.path.isfile(path):
                continue
            with open(path, "rb") as f:
                digest = hashlib.sha1(f.read()).digest()
            if digest not in seen:
                seen.add(digest)
                files.append(path)
    return files, missing


def prepare(source, variant, directory):
    """(variant file, qpdf's answers) for one corpus file; cached in directory."""
    stat = os.stat(source)
    key = hashlib.sha1(f"{CACHE_VERSION}|{variant}|{source}|{stat.st_size}|{stat.st_mtime_ns}"
                       .encode()).hexdigest()[:20]
    pdf = os.path.join(directory, key + ".pdf")
    cached = os.path.join(directory, key + ".json")
    if os.path.exists(pdf) and os.path.exists(cached):
        with open(cached, encoding="utf-8") as f:
            return pdf, json.load(f)
    original = source
    try:
        if source.endswith(".gz"):
            original = os.path.join(directory, key + ".gunzipped")
            with gzip.open(source) as compressed, open(original, "wb") as out:
                shutil.copyfileobj(compressed, out)
        if variant.qpdf_args is None:
            shutil.copyfile(original, pdf + ".part")
        else:
            run(["qpdf", *variant.qpdf_args, original, pdf + ".part"])
    finally:
        if original != source:
            os.remove(original)
    os.replace(pdf + ".part", pdf)
    answers = ask_qpdf(pdf)
    with open(cached + ".part", "w", encoding="utf-8") as f:
        json.dump(answers, f)
    os.replace(cached + ".part", cached)
    return pdf, answers


def dump(program, paths):
    """{path: (result, values, references)} from one run of metadata_dump."""
    output = subprocess.run([program, *paths], capture_output=True, timeout=600)
    if output.returncode != 0 or output.stderr:
        print(f"{program} exited with {output.returncode}: "
              f"{output.stderr.decode('utf-8', 'replace').strip()}")
    records = {}
    for line in output.stdout.decode("ascii").splitlines():
        record = json.loads(line)
        records[record["file"]] = (record["result"], record["values"],
                                   set(record["references"]))
    return records


# --- Comparison ---------------------------------------------------------------------------

def show(value):
    """A value quoted, with what would not print (controls, surrogates) as \\uXXXX."""
    if value is None:
        return "(absent)"
    return '"' + "".join(c if c.isprintable() and c not in '"\\' else
                         json.dumps(c)[1:-1] if c in '"\\' else f"\\u{ord(c):04x}"
                         for c in value) + '"'



def compare(ours, expectation):
    """("match" | "absent" | "explained" | "unexplained", rules)."""
    if ours == expectation.value:
        if expectation.rules:
            return "explained", expectation.rules
        return ("absent" if ours is None else "match"), []
    rules = explain_xmp(ours, expectation)
    if rules:
        return "explained", expectation.rules + rules
    return "unexplained", []


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--dump", required=True, help="the metadata_dump program")
    parser.add_argument("--work", required=True, help="cache folder for variant files")
    parser.add_argument("--packages-from", default=os.path.join(here, "..", "scripts", "lib.sh"),
                        help="the shell file whose CORPUS_PACKAGES names the corpus")
    parser.add_argument("--jobs", type=int, default=max(2, os.cpu_count() or 2))
    parser.add_argument("--examples", type=int, default=3,
                        help="examples printed per explaining rule (-1: all)")
    parser.add_argument("files", nargs="*",
                        help="PDFs to use instead of the packages' ones (no minimum count)")
    args = parser.parse_args()
    started = time.monotonic()

    if args.files:
        sources, missing = [os.path.abspath(f) for f in args.files], []
    else:
        sources, missing = corpus_files(corpus_packages(args.packages_from))
    if missing:
        print(f"corpus packages not installed (scripts/test installs them): {' '.join(missing)}")

    failures = []
    tally = Counter()
    origins = Counter()
    explained = defaultdict(list)
    unexplained = []
    compared_files = Counter()
    for variant in VARIANTS:
        directory = os.path.join(args.work, variant.name)
        os.makedirs(directory, exist_ok=True)
        prepared = {}
        with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
            futures = {pool.submit(prepare, s, variant, directory): s for s in sources}
            for future in concurrent.futures.as_completed(futures):
                label = f"[{variant.name}] {futures[future]}"
                try:
                    prepared[futures[future]] = future.result()
                except (RuntimeError, subprocess.SubprocessError) as error:
                    print(f"skipped {label}: qpdf could not rewrite or read it: {error}")
                except (ValueError, LookupError, StopIteration) as error:
                    failures.append(f"{label}: qpdf's answers not understood: {error!r}")
        keep = {os.path.basename(p)[:-4] for p, _ in prepared.values()}
        for name in os.listdir(directory) if not args.files else []:
            if name.split(".")[0] not in keep:  # from files no longer in the corpus
                os.remove(os.path.join(directory, name))

        records = dump(args.dump, [pdf for pdf, _ in prepared.values()])
        for source in sorted(prepared):
            pdf, answers = prepared[source]
            label = f"[{variant.name}] {source}"
            result, values, references = records.get(pdf, (None, {}, set()))
            if result != variant.expected_result:
                failures.append(f"{label}: load result {result}, expected "
                                f"{variant.expected_result}")
                continue
            compared_files[variant.name] += 1
            if answers["pdfinfo_pages"] not in (None, answers["npages"]):
                print(f"note: {label}: qpdf counts {answers['npages']} pages, pdfinfo "
                      f"{answers['pdfinfo_pages']}")
            try:
                expected = expectations(answers)
            except (ValueError, LookupError, StopIteration) as error:
                failures.append(f"{label}: qpdf's answers not understood: {error!r}")
                continue
            for key in KEYS:
                expectation = expected.get(key, Expectation(None))
                ours = values.get(key)
                status, rules = compare(ours, expectation)
                tally[status] += 1
                if status != "absent":
                    origins[expectation.origin] += 1
                line = (f"{label} {key}: ours {show(ours)}, expected {show(expectation.value)}"
                        f", ordinary reading {show(expectation.standard)}")
                if key in references:
                    line += " (unresolved reference)"
                if status == "explained":
                    explained[" + ".join(dict.fromkeys(rules))].append(line)
                elif status == "unexplained":
                    unexplained.append(f"{line}\n    (the file read: {pdf})")

    for rules, lines in sorted(explained.items(), key=lambda item: -len(item[1])):
        print(f"explained by: {rules}: {len(lines)}")
        for line in lines[:None if args.examples < 0 else args.examples]:
            print(f"    {line}")
    for line in unexplained:
        print(f"UNEXPLAINED {line}")
    for line in failures:
        print(f"FAILED {line}")
    values_compared = tally["match"] + tally["explained"] + tally["unexplained"]
    print(f"\nconformance: {len(sources)} corpus files; files compared: "
          + ", ".join(f"{compared_files[v.name]} {v.name}" for v in VARIANTS)
          + f"; {values_compared} values compared: "
          f"{tally['match']} match, {tally['explained']} explained, {tally['unexplained']} "
          f"unexplained; {tally['absent']} absent on both sides; {len(failures)} "
          f"failures; {time.monotonic() - started:.1f} s")
    print("values by origin: " + ", ".join(f"{n} {o}" for o, n in origins.most_common()))
    minimum = 1 if args.files else MIN_FILES
    too_few = [v.name for v in VARIANTS if compared_files[v.name] < minimum]
    if too_few:
        print(f"FAILED: fewer than {minimum} files compared in {', '.join(too_few)}")
    return 1 if unexplained or failures or too_few else 0


if __name__ == "__main__":
    sys.exit(main())
