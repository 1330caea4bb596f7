#!/usr/bin/env python3
"""Real-world conformance: the reader against qpdf, on PDFs made by real tools.

The corpus is every PDF (and gzipped PDF) that the documentation packages of CORPUS_PACKAGES
in scripts/lib.sh install, one path per distinct content. Each file is made into the variants
of VARIANTS that choose it: as shipped; rewritten by qpdf with classic cross-reference tables,
or with object streams and a cross-reference stream; encrypted by qpdf with RC4 (revisions 2,
3 and 4), AES-128 and AES-256 (revisions 5 and 6), with and without object streams and clear
metadata, and by pdftk (RC4 and AES-128), all with the empty user password; and encrypted with
a user password, which the reader must refuse, for every revision. Each file is read by qpdf (trailer, /Info, catalog, page
tree root, XMP packet, page count; decrypted where encrypted) and by the reader (metadata_dump,
one process per variant), and nine keys are compared: the eight of INFO_KEYS and PageCount.

Expected values start from the ordinary reading of qpdf's output (ISO 32000-1 text strings,
names decoded, keys paired as written, XMP parsed as XML, pages counted) and are then changed
by the reader's rules, each with a name: UTF-16 odd byte dropped, blanks trimmed, first
duplicate key wins, name value read as the next key, the page tree root's /Count, and for
XMP: "()" and untyped metadata stream. qpdf re-serializes what it shows (the last of duplicate
keys kept, strings re-escaped), so for the files as shipped the reader's side is worked out
from the information dictionary as the file writes it (found through qpdf's cross-reference
table), and a rule explains a difference only where the text as written calls for it.

Every (file, key) ends as a match, a difference explained by named rules, or an unexplained
difference. A variant with same_as must also give, file by file, exactly the reader values of
that variant: the encrypted copies those of the unencrypted ones, object streams those of
classic tables. The test fails on an unexplained difference, on values unequal to same_as's,
on a missing page count where qpdf counts pages, on a load result (or its message) other than
the variant's, on a file not encrypted as the variant says, and on too few files compared in
a variant (MIN_FILES, or 90% of a smaller selection). It ends with a table per variant.

Variant files and qpdf's answers are cached under --work, keyed by the variant's command,
source path, size and modification time, so that a re-run only runs the reader. Usage:

    conformance.py --dump build/release/tests/metadata_dump --work DIR [--examples -1]
                   [--variants original,rc4-40] [PDF...]
"""

import argparse
import concurrent.futures
import gzip
import hashlib
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
CACHE_VERSION = "2"

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


IN, OUT = "{in}", "{out}"  # placeholders in a variant's command


def qpdf(*options):
    # A fixed /ID: the RC4 keys, and so the files made, are the same on every machine.
    return ("qpdf", "--static-id", *options, IN, OUT)


def pdftk(*options):
    return ("pdftk", IN, "output", OUT, *options)


RC4_40 = ("--allow-weak-crypto", "--encrypt", "", "owner", "40", "--")
RC4_128 = ("--allow-weak-crypto", "--encrypt", "", "owner", "128", "--use-aes=n", "--")


def encrypt(*options, user=""):
    """qpdf's options for the Standard security handler with the empty (or another) user
    password; options go before the "--" that ends them."""
    return ("--allow-weak-crypto", "--encrypt", user, "owner", *options, "--")


AES_128 = ("128", "--use-aes=y")
AES_256 = ("256",)
AES_256_R5 = ("256", "--force-R5")
RC4_V4 = ("128", "--use-aes=n", "--force-V4")
CLEAR = "--cleartext-metadata"
CLASSIC, OBJECT_STREAMS = "--object-streams=disable", "--object-streams=generate"
EVERY_OTHER, THE_OTHERS = slice(0, None, 2), slice(1, None, 2)

MESSAGES = {106: "PDF metadata encrypted with unsupported encryption or non-empty user password"}


@dataclass(frozen=True)
class Variant:
    """One way of making a file of the corpus into the file read.

    command: the command that writes it, with IN and OUT for the paths; None for the file as
    shipped. files: which corpus files, a slice of the corpus in a fixed pseudo-random order
    (the order of the SHA-1 of their paths), None for all. encryption: what qpdf
    --show-encryption must report about the file made (see encryption()). same_as: a
    variant over the same content whose reader values these must equal, file by file and key
    by key. as_written: expected values also take the information dictionary as the file
    writes it (duplicate keys, escapes), not only as qpdf re-serializes it; possible only
    for unencrypted files."""
    name: str
    command: tuple
    files: slice = None  # None: all
    expected_result: int = 0
    encryption: str = "not encrypted"
    same_as: str = None
    as_written: bool = False


VARIANTS = [
    # As shipped: of the 441 files, 262 have a cross-reference stream, 257 keep the catalog
    # and 59 the information dictionary in an object stream. The only variant with duplicate
    # keys and escapes as their producers wrote them: qpdf's rewriting keeps the last of
    # duplicate keys and re-escapes strings.
    Variant("original", None, as_written=True),
    Variant("classic", qpdf(CLASSIC)),
    # Every object that can be, the information dictionary and the catalog included, in an
    # object stream; a cross-reference stream.
    Variant("objstm", qpdf(OBJECT_STREAMS), same_as="classic"),
    # RC4: revision 2 (40 bits) and 3 (128 bits), empty user password; each file of the corpus
    # in two of the four, once with object streams and once without.
    Variant("rc4-40", qpdf(*RC4_40, CLASSIC), EVERY_OTHER, encryption="R2 RC4",
            same_as="classic"),
    Variant("rc4-40-objstm", qpdf(*RC4_40, OBJECT_STREAMS), THE_OTHERS, encryption="R2 RC4",
            same_as="objstm"),
    Variant("rc4-128", qpdf(*RC4_128, CLASSIC), THE_OTHERS, encryption="R3 RC4",
            same_as="classic"),
    Variant("rc4-128-objstm", qpdf(*RC4_128, OBJECT_STREAMS), EVERY_OTHER,
            encryption="R3 RC4", same_as="objstm"),
    # pdftk (iText) writes classic tables, and its encrypted strings as escaped literals
    # where qpdf writes hexadecimal ones. Slow (Java), so on 40 files each. Like qpdf, it
    # keeps the last of duplicate keys and re-escapes strings. Its /ID, and so its RC4 keys,
    # differ from run to run: which files come out encrypted how is not reproducible (the
    # cached files are kept).
    Variant("pdftk-40", pdftk("encrypt_40bit", "owner_pw", "owner"), slice(0, 40),
            encryption="R2 RC4", same_as="classic"),
    Variant("pdftk-128", pdftk("encrypt_128bit", "owner_pw", "owner"), slice(40, 80),
            encryption="R3 RC4", same_as="classic"),
    # AES-128 (/V 4, AESV2) and AES-256 (/V 5, revision 6 and 5) and RC4 through a crypt
    # filter (/V 4), with the empty user password: halves of the corpus with and without
    # object streams, and smaller shares for the rarer kinds.
    Variant("aes-128", qpdf(*encrypt(*AES_128), CLASSIC), EVERY_OTHER, encryption="R4 AESv2",
            same_as="classic"),
    Variant("aes-128-objstm", qpdf(*encrypt(*AES_128), OBJECT_STREAMS), THE_OTHERS,
            encryption="R4 AESv2", same_as="objstm"),
    Variant("aes-256", qpdf(*encrypt(*AES_256), CLASSIC), THE_OTHERS, encryption="R6 AESv3",
            same_as="classic"),
    Variant("aes-256-objstm", qpdf(*encrypt(*AES_256), OBJECT_STREAMS), EVERY_OTHER,
            encryption="R6 AESv3", same_as="objstm"),
    Variant("aes-256-r5", qpdf(*encrypt(*AES_256_R5), OBJECT_STREAMS), slice(110, 170),
            encryption="R5 AESv3", same_as="objstm"),
    Variant("rc4-v4", qpdf(*encrypt(*RC4_V4), CLASSIC), slice(170, 230), encryption="R4 RC4",
            same_as="classic"),
    # The same with /EncryptMetadata false: the XMP stream clear, the strings encrypted.
    Variant("aes-128-clear", qpdf(*encrypt(*AES_128, CLEAR), CLASSIC), slice(230, 270),
            encryption="R4 AESv2", same_as="classic"),
    Variant("aes-256-clear", qpdf(*encrypt(*AES_256, CLEAR), OBJECT_STREAMS), slice(270, 310),
            encryption="R6 AESv3", same_as="objstm"),
    Variant("aes-256-r5-clear", qpdf(*encrypt(*AES_256_R5, CLEAR), CLASSIC), slice(310, 350),
            encryption="R5 AESv3", same_as="classic"),
    Variant("rc4-v4-clear", qpdf(*encrypt(*RC4_V4, CLEAR), OBJECT_STREAMS), slice(350, 390),
            encryption="R4 RC4", same_as="objstm"),
    Variant("pdftk-aes", pdftk("encrypt_aes128", "owner_pw", "owner"), slice(120, 160),
            encryption="R4 AESv2", same_as="classic"),
    # Not read: 106 and its message, whatever the revision, when the user password is not
    # empty.
    Variant("user-password", qpdf("--allow-weak-crypto", "--encrypt", "user", "owner", "128",
                                  "--use-aes=n", "--"), slice(100, 110), 106,
            "R3 RC4, user password needed"),
    Variant("user-password-r2", qpdf(*encrypt("40", user="user")), slice(0, 10), 106,
            "R2 RC4, user password needed"),
    Variant("user-password-aes-128", qpdf(*encrypt(*AES_128, user="user")), slice(10, 20), 106,
            "R4 AESv2, user password needed"),
    Variant("user-password-r5", qpdf(*encrypt(*AES_256_R5, user="user")), slice(20, 30), 106,
            "R5 AESv3, user password needed"),
    Variant("user-password-r6", qpdf(*encrypt(*AES_256, user="user")), slice(30, 40), 106,
            "R6 AESv3, user password needed"),
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
    reader: tuple = None  # string: (bytes, rules) as the reader decodes it


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
    reader: tuple = None  # (bytes, rules): how the reader decodes it, where that differs

    def reader_data(self):
        return self.reader[0] if self.reader else self.data

    def reader_rules(self):
        return self.reader[1] if self.reader else []


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


def reader_literal(content):
    """(bytes, rules): a literal string's content, between its parentheses, decoded as the
    reader does: as ISO 32000-1, 7.3.4.2 says, with no departure."""
    return literal_string(b"(" + content + b")", 0)[0], []


def reader_hex(content):
    """(bytes, rules): a hexadecimal string's content, between "<" and ">", decoded as the
    reader does: as ISO 32000-1, 7.3.4.3 says, every byte that is no digit skipped."""
    digits = bytes(c for c in content if chr(c) in "0123456789abcdefABCDEF")
    if len(digits) % 2:
        digits += b"0"
    return bytes.fromhex(digits.decode()), []


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
            tokens.append(Token("string", data, i, end, reader_literal(text[i + 1:end - 1])))
            i = end
        elif c == b"<":
            end = text.index(b">", i)
            digits = re.sub(rb"[^0-9A-Fa-f]", b"", text[i + 1:end])
            if len(digits) % 2:
                digits += b"0"
            tokens.append(Token("string", bytes.fromhex(digits.decode()), i, end + 1,
                                reader_hex(text[i + 1:end])))
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
        return String(token.value, token.reader), i + 1
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


# Codes that PDFDocEncoding leaves undefined.
PDFDOC_UNDEFINED = {0x7F, 0x9F, 0xAD}


def pdfdoc(data):
    return "".join("\ufffd" if b in PDFDOC_UNDEFINED else PDFDOC.get(b, chr(b)) for b in data)


def text_string(data):
    """A text string as ISO 32000-1, 7.9.2.2 (and PDF 2.0's UTF-8 mark) reads it; what can't
    be decoded shows as U+FFFD."""
    if data.startswith(b"\xfe\xff"):
        return data[2:].decode("utf-16-be", "replace")
    if data.startswith(b"\xef\xbb\xbf"):
        return data[3:].decode("utf-8", "replace")
    return pdfdoc(data)


def reader_text(data):
    """The reader's decoding: as text_string, but UTF-16BE with an odd last byte dropped and
    unpaired surrogates kept, and UTF-16LE after FF FE, which writers use in the wild."""
    if data.startswith(b"\xfe\xff"):
        return data[2:len(data) - len(data) % 2].decode("utf-16-be", "surrogatepass")
    if data.startswith(b"\xff\xfe"):
        return data[2:len(data) - len(data) % 2].decode("utf-16-le", "surrogatepass")
    return text_string(data)


def decoding_rule(data):
    if data.startswith(b"\xff\xfe"):
        return "UTF-16LE after FF FE"
    return "UTF-16 odd last byte dropped, unpaired surrogates kept"


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


def expect_string(string):
    """A string's text: the ordinary reading, then the reader's decoding of the bytes, then
    its decoding of the string as written (escapes, hexadecimal digits), where it departs."""
    expectation = Expectation(text_string(string.data)).apply(decoding_rule(string.data),
                                                              reader_text(string.data))
    if string.reader_rules():
        expectation.apply(" + ".join(string.reader_rules()), reader_text(string.reader_data()))
    return expectation


def expect_value(value, objects):
    if isinstance(value, String):
        return trimmed(expect_string(value))
    if isinstance(value, Ref):
        target = objects.get(f"{value.number},{value.generation}")
        target = first_object(target) if target is not None else None
        if not isinstance(target, (String, Other)) or getattr(target, "source", "") == "null":
            return Expectation(None).apply("unresolved reference kept as its text",
                                           f"{value.number} {value.generation} R")
        if isinstance(target, Other):
            return trimmed(Expectation(target.source))
        return trimmed(expect_string(target))
    if isinstance(value, Name):
        return Expectation(value.text())
    return trimmed(Expectation(value.source))


FIRST_WINS = "the first of duplicate keys wins"


def info_expectations(text, objects, written=None):
    """{key: Expectation} for the information dictionary, as the reader enters it: the first
    of duplicate keys wins, and a name value under a key other than Filter/Type/Subtype
    leaves that key empty and is itself read as the next key. The ordinary reading is qpdf's
    (text): the last duplicate wins. The reader's reading is of written, the dictionary as
    the file holds it, when given, otherwise of text too.

    A duplicate key explains a difference only where the key is written more than once and
    its last value reads as qpdf's; any other disagreement between the two texts stays
    unexplained."""
    text = as_bytes(text)
    read = as_bytes(written) if written is not None else text
    ordinary = {key: expect_value(value, objects).standard
                for key, value in parse_dictionary(text)}
    as_written = parse_dictionary(read)
    times_written = Counter(key for key, _ in as_written)
    last_written = {key: expect_value(value, objects).standard for key, value in as_written}
    entries = {}

    def enter(key, expectation, rule):
        if key in entries:
            return
        standard = ordinary.get(key)
        if standard != expectation.standard:  # the reader paired this key with another value
            paired = expectation
            expectation = Expectation(standard)
            explained = rule != FIRST_WINS or (times_written[key] > 1
                                               and last_written[key] == standard)
            if paired.value != standard and explained:
                expectation.rules, expectation.value = [rule] + paired.rules, paired.value
        entries[key] = expectation

    tokens = tokenize(read)
    i = next(n for n, t in enumerate(tokens) if t.kind == "<<") + 1
    while i < len(tokens) and tokens[i].kind == "name":
        key, i = tokens[i].value, i + 1
        rule = FIRST_WINS
        while i < len(tokens) and tokens[i].kind != ">>":
            value, i = parse_value(read, tokens, i)
            if isinstance(value, Name) and key not in (b"Filter", b"Type", b"Subtype"):
                rule = "name value read as the next key"
                enter(key, Expectation(value.text()).apply(rule, ""), rule)
                key = value.raw
                continue
            enter(key, expect_value(value, objects), rule)
            break
    return {key.decode("latin-1"): e for key, e in entries.items()}


# --- Expected values: the XMP packet ------------------------------------------------------

XML_LANG = "{http://www.w3.org/XML/1998/namespace}lang"


def element_value(element):
    """An element's text as an XMP reader shows it (None when empty): of an rdf:Alt its
    x-default item, or else its first; of an rdf:Seq or rdf:Bag its items joined by "; "."""
    text = "".join(element.itertext()).strip(BLANKS)
    for container in ("Alt", "Seq", "Bag"):
        found = element.find(f"{{{RDF}}}{container}")
        if found is None:
            continue
        items = [("".join(li.itertext()).strip(BLANKS), li.get(XML_LANG))
                 for li in found.findall(f"{{{RDF}}}li")]
        if container == "Alt":
            chosen = next((t for t, lang in items if lang == "x-default"),
                          items[0][0] if items else "")
            text = chosen
        else:
            text = "; ".join(t for t, _ in items if t)
        break
    return text or None


class XmpPacket:
    """The catalog's metadata stream (its decoded data and its dictionary's text), read by
    an XML parser: properties by namespace, as children of an rdf:Description or as its
    attributes, the first non-empty one winning. Malformed UTF-8 reads as U+FFFD."""

    def __init__(self, data, dictionary):
        self.problem = None  # a rule that makes the reader ignore the whole packet
        self.text = data.decode("utf-8", "replace")
        entries = dict(parse_dictionary(dictionary)) if dictionary else {}
        if (getattr(entries.get(b"Type"), "raw", None) != b"Metadata"
                or getattr(entries.get(b"Subtype"), "raw", None) != b"XML"):
            self.problem = "metadata stream not /Type /Metadata /Subtype /XML: ignored"
        try:
            self.root = ET.fromstring(self.text)
        except ET.ParseError:
            self.root = None  # no value to expect; what the reader finds shows as unexplained

    def expectation(self, key):
        namespace, local, _ = XMP_ELEMENTS[key]
        tag = f"{{{namespace}}}{local}"
        value = None
        descriptions = self.root.iter(f"{{{RDF}}}Description") if self.root is not None else []
        for description in descriptions:
            for element in description.findall(tag):
                value = value or element_value(element)
            value = value or (description.get(tag) or "").strip(BLANKS) or None
            if value:
                break
        expectation = Expectation(value, "XMP")
        expectation.apply('the text "()" ignored', None if value == "()" else value)
        if self.problem:
            expectation.apply(self.problem, None)
        return expectation


# --- Asking qpdf --------------------------------------------------------------------------

def run(command, check=True):
    result = subprocess.run(command, capture_output=True, timeout=300)
    # qpdf: 0 success, 3 success with warnings, 2 failure.
    if check and result.returncode not in (0, 3):
        raise RuntimeError(f"{' '.join(map(str, command))}: "
                           f"{result.stderr.decode('utf-8', 'replace').strip()}")
    return result


def encryption(pdf):
    """What qpdf --show-encryption tells of the file, in short: "R2 RC4", "R4 AESv2", "not
    encrypted", with ", user password needed" when the empty password does not open it."""
    output = run(["qpdf", "--show-encryption", pdf]).stdout.decode("latin-1")
    if "File is not encrypted" in output:
        return "not encrypted"
    revision = re.search(r"^R = (\d+)", output, re.M)
    if not revision:
        raise ValueError(f"no revision in qpdf --show-encryption's {output!r}")
    method = re.search(r"^stream encryption method: (\S+)", output, re.M)
    summary = f"R{revision.group(1)} {method.group(1) if method else 'RC4'}"
    if "Supplied password is user password" not in output:
        summary += ", user password needed"
    return summary


def written_objects(pdf, numbers):
    """{"n,g": text}: the objects as the file writes them, found through qpdf's
    cross-reference table: from the offset of an uncompressed one to its "endobj", or between
    the offsets an object stream's header gives (the stream decoded by qpdf). For an
    unencrypted file only."""
    xref = {}
    for line in run(["qpdf", "--show-xref", pdf]).stdout.decode("latin-1").splitlines():
        entry = re.match(r"(\d+)/(\d+): (?:uncompressed; offset = (\d+)|compressed; "
                         r"stream = (\d+), index = (\d+))$", line)
        if entry:
            xref[f"{entry.group(1)},{entry.group(2)}"] = entry.groups()[2:]
    with open(pdf, "rb") as f:
        data = f.read()
    texts = {}
    for number in numbers:
        offset, stream, index = xref.get(number, (None, None, None))
        if offset is not None:
            header = re.compile(rb"\s*\d+\s+\d+\s+obj").match(data, int(offset))
            if not header:
                raise ValueError(f"no object {number} at offset {offset}")
            texts[number] = data[header.end():data.index(b"endobj", header.end())].decode(
                "latin-1")
        elif stream is not None:
            show = ["qpdf", f"--show-object={stream},0", pdf]
            header = dict(parse_dictionary(run(show).stdout))
            content = run(show + ["--filtered-stream-data"]).stdout
            first = int(header[b"First"].source)
            pairs = content[:first].split()[:2 * int(header[b"N"].source)]
            offsets = sorted(int(n) for n in pairs[1::2])
            own = int(pairs[2 * int(index) + 1])
            if f"{int(pairs[2 * int(index)])},0" != number:
                raise ValueError(f"object stream {stream} does not hold {number} at {index}")
            end = next((o for o in offsets if o > own), len(content) - first)
            texts[number] = content[first + own:first + end].decode("latin-1")
    return texts


def ask_qpdf(pdf, variant):
    """qpdf's view of what the reader needs; bytes are kept as latin-1 text. Of a file the
    reader must refuse, only its encryption."""
    def show(obj, *extra):
        return run(["qpdf", f"--show-object={obj}", *extra, pdf]).stdout.decode("latin-1")

    if variant.expected_result != 0:
        return {"encryption": encryption(pdf)}
    answers = {"trailer": show("trailer"), "objects": {}, "metadata": None, "written": {}}
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
    answers["encryption"] = encryption(pdf) if b"Encrypt" in trailer else "not encrypted"
    info = fetch(trailer.get(b"Info", Other("null")))
    for value in dictionary(info).values():
        fetch(value)
    if variant.as_written and isinstance(trailer.get(b"Info"), Ref):
        answers["written"] = written_objects(pdf, [f"{trailer[b'Info'].number},"
                                                   f"{trailer[b'Info'].generation}"])
    root = dictionary(fetch(trailer.get(b"Root", Other("null"))))
    fetch(root.get(b"Pages", Other("null")))
    metadata = root.get(b"Metadata")
    if isinstance(metadata, Ref) and fetch(metadata).startswith("Object is stream"):
        answers["metadata"] = show(f"{metadata.number},{metadata.generation}",
                                   "--filtered-stream-data")
    answers["npages"] = int(run(["qpdf", "--show-npages", pdf]).stdout)
    answers["pdfinfo_pages"] = None
    if variant.encryption == "not encrypted":  # a second opinion; encrypted copies add none
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
    written = None
    if isinstance(trailer.get(b"Info"), Ref):
        written = answers["written"].get(f"{trailer[b'Info'].number},"
                                         f"{trailer[b'Info'].generation}")
    info = info_expectations(info_text, objects, written) if info_text else {}
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


def make_file(source, command, pdf):
    """Writes pdf from a corpus file (gunzipped where it is a .pdf.gz): a copy when command is
    None, else what command (with IN and OUT for the paths) makes of it. It is written under
    another name first, so that a file of that name is always whole."""
    original = source
    try:
        if source.endswith(".gz"):
            original = pdf + ".gunzipped"
            with gzip.open(source) as compressed, open(original, "wb") as out:
                shutil.copyfileobj(compressed, out)
        if command is None:
            shutil.copyfile(original, pdf + ".part")
        else:
            paths = {IN: original, OUT: pdf + ".part"}
            run([paths.get(word, word) for word in command])
    finally:
        if original != source:
            os.remove(original)
    os.replace(pdf + ".part", pdf)


def prepare(source, variant, directory):
    """(variant file, qpdf's answers) for one corpus file; cached in directory."""
    stat = os.stat(source)
    key = hashlib.sha1(f"{CACHE_VERSION}|{variant.command}|{variant.as_written}|{source}|"
                       f"{stat.st_size}|{stat.st_mtime_ns}".encode()).hexdigest()[:20]
    pdf = os.path.join(directory, key + ".pdf")
    cached = os.path.join(directory, key + ".json")
    if os.path.exists(pdf) and os.path.exists(cached):
        with open(cached, encoding="utf-8") as f:
            return pdf, json.load(f)
    make_file(source, variant.command, pdf)
    answers = ask_qpdf(pdf, variant)
    with open(cached + ".part", "w", encoding="utf-8") as f:
        json.dump(answers, f)
    os.replace(cached + ".part", cached)
    return pdf, answers


def dump(program, paths):
    """{path: (result, message, values, references)} from one run of metadata_dump."""
    output = subprocess.run([program, *paths], capture_output=True, timeout=600)
    if output.returncode != 0 or output.stderr:
        print(f"{program} exited with {output.returncode}: "
              f"{output.stderr.decode('utf-8', 'replace').strip()}")
    records = {}
    for line in output.stdout.decode("ascii").splitlines():
        record = json.loads(line)
        records[record["file"]] = (record["result"], record["message"], record["values"],
                                   set(record["references"]))
    return records


# --- Comparison ---------------------------------------------------------------------------

def show(value, limit=300):
    """A value quoted, with what would not print (controls, surrogates) as \\uXXXX; past
    limit characters (a string read on into the rest of a file, say) cut short."""
    if value is None:
        return "(absent)"
    more = f"... ({len(value) - limit} more)" if len(value) > limit else ""
    return '"' + "".join(c if c.isprintable() and c not in '"\\' else
                         json.dumps(c)[1:-1] if c in '"\\' else f"\\u{ord(c):04x}"
                         for c in value[:limit]) + '"' + more



def compare(ours, expectation):
    """("match" | "absent" | "explained" | "unexplained", rules)."""
    if ours == expectation.value:
        if expectation.rules:
            return "explained", expectation.rules
        return ("absent" if ours is None else "match"), []
    return "unexplained", []


def selection(sources, variant, explicit):
    """The corpus files of a variant: its slice of the corpus ordered by the SHA-1 of the
    paths, so that subsets stay the same from run to run; every file when the files were
    named on the command line."""
    if explicit:
        return list(sources)
    order = sorted(sources, key=lambda s: hashlib.sha1(s.encode()).hexdigest())
    return order[variant.files or slice(None)]


def prepare_all(variants, chosen, work, jobs, explicit, failures):
    """{variant name: {source: (variant file, qpdf's answers)}}, one pool for every variant;
    cached files of sources no longer chosen are removed."""
    prepared = defaultdict(dict)
    with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
        futures = {}
        for variant in variants:
            directory = os.path.join(work, variant.name)
            os.makedirs(directory, exist_ok=True)
            for source in chosen[variant.name]:
                futures[pool.submit(prepare, source, variant, directory)] = (variant, source)
        for future in concurrent.futures.as_completed(futures):
            variant, source = futures[future]
            label = f"[{variant.name}] {source}"
            try:
                prepared[variant.name][source] = future.result()
            except (RuntimeError, subprocess.SubprocessError) as error:
                print(f"skipped {label}: could not make or read it: {error}")
            except (ValueError, LookupError, StopIteration) as error:
                failures.append(f"{label}: qpdf's answers not understood: {error!r}")
    for variant in variants if not explicit else []:
        directory = os.path.join(work, variant.name)
        keep = {os.path.basename(pdf)[:-4] for pdf, _ in prepared[variant.name].values()}
        for name in os.listdir(directory):
            if name.split(".")[0] not in keep:  # from files no longer chosen
                os.remove(os.path.join(directory, name))
    return prepared


class Report:
    """Counts per variant, the differences explained (grouped by their rules) and the
    failures."""

    def __init__(self):
        self.tally = defaultdict(Counter)  # variant -> status -> count
        self.origins = Counter()
        self.explained = defaultdict(list)
        self.unexplained = []
        self.failures = []


def check_file(variant, source, pdf, answers, record, report):
    """Compares one file's reader values with qpdf's; True when its values count (read, with
    the variant's result and encryption)."""
    label = f"[{variant.name}] {source}"
    result, message, values, references = record
    tally = report.tally[variant.name]
    if answers["encryption"] != variant.encryption:
        report.failures.append(f"{label}: made as {answers['encryption']}, not as "
                               f"{variant.encryption} (the file: {pdf})")
        return False
    if result != variant.expected_result:
        report.failures.append(f"{label}: load result {result} ({message}), expected "
                               f"{variant.expected_result} (the file read: {pdf})")
        return False
    if variant.expected_result != 0:
        expected = MESSAGES[variant.expected_result]
        if message != expected:
            report.failures.append(f"{label}: message {show(message)}, expected "
                                   f"{show(expected)}")
            return False
        tally["files"] += 1
        return True
    tally["files"] += 1
    if answers["pdfinfo_pages"] not in (None, answers["npages"]):
        print(f"note: {label}: qpdf counts {answers['npages']} pages, pdfinfo "
              f"{answers['pdfinfo_pages']}")
    if answers["npages"] > 0 and values.get("PageCount") is None:
        report.failures.append(f"{label}: no page count; qpdf counts {answers['npages']} "
                               f"pages (the file read: {pdf})")
    try:
        expected = expectations(answers)
    except (ValueError, LookupError, StopIteration) as error:
        report.failures.append(f"{label}: qpdf's answers not understood: {error!r}")
        return False
    for key in KEYS:
        expectation = expected.get(key, Expectation(None))
        ours = values.get(key)
        status, rules = compare(ours, expectation)
        tally[status] += 1
        if status != "absent":
            report.origins[expectation.origin] += 1
        line = (f"{label} {key}: ours {show(ours)}, expected {show(expectation.value)}"
                f", ordinary reading {show(expectation.standard)}")
        if key in references:
            line += " (unresolved reference)"
        if status == "explained":
            report.explained[" + ".join(dict.fromkeys(rules))].append(line)
        elif status == "unexplained":
            report.unexplained.append(f"{line}\n    (the file read: {pdf})")
    return True


def check_same_as(variant, values, report):
    """The reader's values for the files of variant against those of the same files in
    variant.same_as, key by key, reference flags included. values: {variant name: {source:
    (values, references)}} of the files that count."""
    tally = report.tally[variant.name]
    base = values[variant.same_as]
    for source, (ours, references) in sorted(values[variant.name].items()):
        if source not in base:
            continue
        theirs, their_references = base[source]
        tally["same files"] += 1
        for key in KEYS:
            mine, other = ours.get(key), theirs.get(key)
            if mine is None and other is None:
                continue
            if mine == other and (key in references) == (key in their_references):
                tally["equal"] += 1
                continue
            tally["not equal"] += 1
            report.failures.append(
                f"[{variant.name}] {source} {key}: ours {show(mine)}"
                f"{' (unresolved reference)' if key in references else ''}, "
                f"in {variant.same_as} {show(other)}"
                f"{' (unresolved reference)' if key in their_references else ''}")


def print_summary(variants, chosen, report, minimum):
    """The table of counts per variant; returns the variants with too few files."""
    columns = ["files", "compared", "match", "explained", "unexplained", "absent",
               "same files", "equal", "not equal"]
    print(f"\n{'variant':<15} {'chosen':>6} " + " ".join(f"{c:>11}" for c in columns)
          + "  same as")
    too_few = []
    for variant in variants:
        tally = report.tally[variant.name]
        tally["compared"] = tally["match"] + tally["explained"] + tally["unexplained"]
        print(f"{variant.name:<15} {len(chosen[variant.name]):>6} "
              + " ".join(f"{tally[c]:>11}" for c in columns)
              + f"  {variant.same_as or '-'}")
        needed = min(minimum, len(chosen[variant.name]) * 9 // 10)
        if tally["files"] < max(needed, 1):
            too_few.append(f"{variant.name} ({tally['files']} < {max(needed, 1)})")
    return too_few


def harness_arguments(description, examples):
    """The command line that this harness and tests/damaged.py share; add_argument adds more
    before parse_args is called on the parser returned."""
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--dump", required=True, help="the metadata_dump program")
    parser.add_argument("--work", required=True, help="cache folder for the files made")
    parser.add_argument("--packages-from", default=os.path.join(here, "..", "scripts", "lib.sh"),
                        help="the shell file whose CORPUS_PACKAGES names the corpus")
    parser.add_argument("--jobs", type=int, default=max(2, os.cpu_count() or 2))
    parser.add_argument("--examples", type=int, default=3,
                        help=f"examples printed per {examples} (-1: all)")
    parser.add_argument("files", nargs="*",
                        help="PDFs to use instead of the packages' ones (no minimum count)")
    return parser


def harness_sources(args, commands):
    """The corpus files that the arguments name, or None, said why, when a tool that the
    commands (and the harnesses themselves) run is missing."""
    if args.files:
        sources, missing = [os.path.abspath(f) for f in args.files], []
    else:
        sources, missing = corpus_files(corpus_packages(args.packages_from))
    if missing:
        print(f"corpus packages not installed (scripts/test installs them): {' '.join(missing)}")
    tools = sorted({command[0] for command in commands if command} | {"qpdf", "pdfinfo"})
    absent = [tool for tool in tools if not shutil.which(tool)]
    if absent:
        print(f"FAILED: needs {', '.join(absent)} (scripts/test installs it)")
        return None
    return sources


def main():
    parser = harness_arguments(__doc__.split("\n\n")[0], "explaining rule")
    parser.add_argument("--variants", help="comma-separated names of the variants to run "
                        "(default: all; a variant needs the one it is compared with)")
    args = parser.parse_args()
    started = time.monotonic()

    variants = VARIANTS
    if args.variants:
        names = set(args.variants.split(","))
        names |= {v.same_as for v in VARIANTS if v.name in names and v.same_as}
        variants = [v for v in VARIANTS if v.name in names]
    sources = harness_sources(args, [v.command for v in variants])
    if sources is None:
        return 1
    report = Report()
    chosen = {v.name: selection(sources, v, bool(args.files)) for v in variants}
    prepared = prepare_all(variants, chosen, args.work, args.jobs, bool(args.files),
                           report.failures)
    values = defaultdict(dict)
    for variant in variants:
        files = prepared[variant.name]
        records = dump(args.dump, [pdf for pdf, _ in files.values()])
        for source in sorted(files):
            pdf, answers = files[source]
            record = records.get(pdf, (None, "", {}, set()))
            if check_file(variant, source, pdf, answers, record, report):
                values[variant.name][source] = (record[2], record[3])
    for variant in variants:
        if variant.same_as:
            check_same_as(variant, values, report)

    for rules, lines in sorted(report.explained.items(), key=lambda item: -len(item[1])):
        print(f"explained by: {rules}: {len(lines)}")
        for line in lines[:None if args.examples < 0 else args.examples]:
            print(f"    {line}")
    for line in report.unexplained:
        print(f"UNEXPLAINED {line}")
    for line in report.failures:
        print(f"FAILED {line}")
    too_few = print_summary(variants, chosen, report, 1 if args.files else MIN_FILES)
    total = Counter()
    for tally in report.tally.values():
        total.update(tally)
    print(f"\nconformance: {len(sources)} corpus files, {len(variants)} variants, "
          f"{total['files']} files read; {total['compared']} values compared with qpdf: "
          f"{total['match']} match, {total['explained']} explained, {total['unexplained']} "
          f"unexplained; {total['equal'] + total['not equal']} compared across variants: "
          f"{total['not equal']} not equal; {len(report.failures)} failures; "
          f"{time.monotonic() - started:.1f} s")
    print("values by origin: " + ", ".join(f"{n} {o}" for o, n in report.origins.most_common()))
    if too_few:
        print(f"FAILED: too few files compared in {', '.join(too_few)}")
    return 1 if report.unexplained or report.failures or too_few else 0


if __name__ == "__main__":
    sys.exit(main())
