#!/usr/bin/env python3
"""Text fidelity: the reader's text against pdfinfo and exiftool, on files made by real tools.

The files of FILES are made by ReportLab (the information dictionary as PDFDocEncoding bytes
where every character has one, UTF-16BE otherwise), Ghostscript's pdfwrite (a DOCINFO pdfmark
with PDFDocEncoding bytes as octal escapes, or with UTF-16BE hexadecimal strings; it adds an
XMP packet whose shape depends on the keys), exiftool (XMP packets written into a ReportLab
file by an incremental update, in element form or, with XMPShorthand, in attribute form, with
or without the /Info entries for the same keys) and taken from the documentation packages of
CORPUS_PACKAGES in scripts/lib.sh (XMP with the xap: prefix of old Adobe tools, attribute form,
rdf:Seq of two authors, entities, malformed UTF-8). Copies whose /Info is renamed /Inf_ (same
length, every offset holds) show what the reader takes from the XMP packet alone.

For each of the eight keys the expected value comes from a peer: pdfinfo (poppler) for a key
that the file's information dictionary has (ISO 32000-1, 7.9.2.2 text strings and Annex D
PDFDocEncoding; dates as written, with -rawdates), exiftool for a key only the XMP packet
(ISO 32000-1, 14.3.2) has: the x-default item of an rdf:Alt (else the first), the items of an
rdf:Seq or rdf:Bag trimmed and joined with "; ", dates as stored. Values are compared trimmed
of blanks; an empty value counts as absent. Where exiftool's reading of the information
dictionary differs from pdfinfo's, a note says so and which one the reader matches.

Every value compared is tagged with what it exercises (PDFDocEncoding bytes, UTF-16BE,
literal escapes, UTF-8 in XMP, entities, attribute form, the xap: prefix, ...), worked out
from the file as qpdf shows it; each tag of REQUIRED must be exercised at least once. The
test fails on a value unequal to its peer's, on a file not made or not read, and on a
required tag not exercised. Files, qpdf's, pdfinfo's and exiftool's answers are cached under
--work, keyed by CACHE_VERSION, the recipe and (for shipped files) the source's path, size and
modification time. Usage:

    text_fidelity.py --dump build/release/tests/metadata_dump --work DIR [PDF...]

PDFs named on the command line are checked as they are and, where they have /Info, with /Info
renamed, instead of the files of FILES, and without the coverage check.
"""

import base64
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

sys.dont_write_bytecode = True  # no __pycache__ in the source tree for the imports below
from conformance import (BLANKS, INFO_KEYS, IN, OUT, PDFDOC, RDF, XMP_ELEMENTS, Ref, String,
                         Variant, ask_qpdf, corpus_packages, dump, first_object,
                         harness_arguments, make_file, parse_dictionary, run, show, tokenize)
from damaged import GHOSTSCRIPT, names_info, without_info

# Bump when a recipe's making or the cached answers change shape.
CACHE_VERSION = "1"
DATES = ("CreationDate", "ModDate")


@dataclass(frozen=True)
class Made:
    """A file of the test. tool: "ReportLab" (recipe: {key: text}), "Ghostscript" (recipe:
    PostScript), "exiftool" (recipe: its arguments, applied to base), "shipped" (recipe: the
    path of a packaged PDF, gunzipped where it is a .pdf.gz) or "no /Info" (base with its /Info
    renamed). about: what it is there for."""
    name: str
    tool: str
    recipe: object = None
    base: str = None
    about: str = ""


def without_info_of(name, about=""):
    return Made(f"{name}.no-info", "no /Info", base=name, about=about)


def pdfmark(entries):
    """A one-page PostScript program whose DOCINFO pdfmark sets entries (key -> PostScript
    string token, written as is: octal escapes for the PDFDocEncoding bytes, or <FEFF...>)."""
    lines = "".join(f"  /{key} {value}\n" for key, value in entries.items())
    return (f"%!PS\n[\n{lines}  /DOCINFO pdfmark\n"
            "/Helvetica findfont 24 scalefont setfont 72 720 moveto (Vellumtag) show showpage\n")


def utf16(text):
    return "<FEFF" + text.encode("utf-16-be").hex().upper() + ">"


TEXMF = "/usr/share/doc/texlive-doc"

FILES = [
    # ReportLab writes each text string as PDFDocEncoding bytes (octal escapes above 0x7E)
    # when every character has one, as UTF-16BE with a byte order mark otherwise.
    Made("reportlab-pdfdoc", "ReportLab", {
        "Title": "3-Heights™ PDF – “Quoted” ‘single’ • … € — Œuvre œ Š ž Ÿ",
        "Author": "Smith & Jones <ed.> (Hrsg.) back\\slash",
        "Subject": "˘ˇˆ˙˝˛˚˜ ‹›−„‚ƒ⁄ Łł ı ﬁﬂ †‡‰ Žž",  # the bytes 0x18-0x1F and 0x80-0x9E
        "Keywords": "café, über, Straße, naïve",  # the same bytes in Latin-1
        "Creator": "  ReportLab ™ writer  ",  # blanks to trim
    }, about="every PDFDocEncoding byte that Latin-1 reads otherwise; escapes; blanks"),
    Made("reportlab-utf16", "ReportLab", {
        "Title": "Ελληνικά — Кириллица",
        "Author": "山田太郎 & 李小龙",
        "Subject": "Emoji 😀 & <tag> 𝄞",  # surrogate pairs
        "Keywords": "Ωmega, ελληνικά, 漢字",
        "Creator": "Créateur ™ – 漢字",
    }, about="characters outside PDFDocEncoding: UTF-16BE, surrogate pairs"),
    Made("reportlab-base", "ReportLab", {
        "Title": "Titre Info ™", "Author": "Info Author", "Subject": "Info subject – x",
        "Keywords": "info, keys", "Creator": "Info creator",
    }, about="plain /Info, no XMP: the file exiftool edits"),
    # pdfwrite writes the pdfmark's strings back as literal (octal escapes) or hexadecimal
    # strings. Its XMP packet has one rdf:Description per namespace and pdf:Producer as an
    # attribute when there are no keywords; it fills dc:title ("Untitled") and
    # xmp:CreatorTool ("UnknownApplication") when the pdfmark has none. Ghostscript 10.0
    # writes U+FFFD into the packet for every character above U+07FF (the ™ – “ of the
    # PDFDocEncoding title, CJK), so the copies without /Info read those. A character beyond
    # U+FFFF in a UTF-16 pdfmark string makes it drop the packet and write a cross-reference
    # entry for an object it never writes: none here.
    Made("ghostscript-pdfdoc", "Ghostscript", pdfmark({
        "Title": r"(3-Heights\222 PDF \205 \215Quoted\216 \200 \240 \(a\) back\\slash)",
        "Author": "(Smith & Jones <ed.>)",
        "Subject": r"(Caf\351 \374ber Stra\337e)",
        "Keywords": r"(alpha; beta \226 \234 gamma)",
        "Creator": r"(pdfmark writer\231)",
    }), about="PDFDocEncoding bytes from a pdfmark; its XMP in element form"),
    Made("ghostscript-utf16", "Ghostscript", pdfmark({
        "Title": utf16("Ελληνικά — 中文"),
        "Author": utf16("Кирилл & <A>"),
        "Subject": utf16("Ωmega ™ “x”"),
    }), about="UTF-16BE from a pdfmark; XMP with pdf:Producer as an attribute"),
    without_info_of("ghostscript-pdfdoc", "Ghostscript's XMP alone: entities, several "
                    "rdf:Description"),
    without_info_of("ghostscript-utf16", "Ghostscript's XMP alone: attribute form, UTF-8"),
    # exiftool adds an XMP packet (one rdf:Description per namespace) and rewrites /Info in
    # an incremental update; "-PDF:all=" drops /Info from the new trailer, and deleting one
    # tag rewrites /Info without it. It writes the /Info strings it changes as UTF-16BE.
    Made("exiftool-under-info", "exiftool", (
        "-XMP-dc:Title=Titre “XMP” <b>", "-XMP-dc:Creator+=Alice", "-XMP-dc:Creator+=Bob & Co",
        "-XMP-dc:Description=Résumé — €5", "-XMP-pdf:Keywords=un; deux & trois",
        "-XMP-pdf:Producer=exiftool ™", "-XMP-xmp:CreatorTool=Outil ™",
        "-XMP-xmp:CreateDate=2024:03:05 10:20:30+01:00",
        "-XMP-xmp:ModifyDate=2024:03:06 11:00:00Z",
    ), base="reportlab-base", about="XMP under a full /Info: /Info wins for every key"),
    without_info_of("exiftool-under-info", "the same XMP alone: rdf:Seq of two, entities"),
    Made("exiftool-partial-info", "exiftool", (
        "-PDF:Title=", "-PDF:Author=", "-PDF:Keywords=",
        "-XMP-dc:Title=Titre “XMP” <b>", "-XMP-dc:Creator+=Alice", "-XMP-dc:Creator+=Bob & Co",
        "-XMP-dc:Description=Résumé XMP", "-XMP-pdf:Keywords=un; deux & trois",
        "-XMP-xmp:CreatorTool=Outil XMP",
    ), base="reportlab-base", about="XMP only where the updated /Info lacks the key"),
    Made("exiftool-xmp-only", "exiftool", (
        "-PDF:all=", "-XMP-dc:Title=Défaut ™", "-XMP-dc:Title-fr=Titre français",
        "-XMP-dc:Description-de=Beschreibung – de", "-XMP-dc:Description-fr=Description",
        "-XMP-dc:Creator+=  Alice  ", "-XMP-dc:Creator+=Bob & Co",
        "-XMP-pdf:Keywords=un; deux & trois", "-XMP-pdf:Producer=Producteur <x>",
        "-XMP-xmp:CreatorTool=Outil ™", "-XMP-xmp:CreateDate=2024:03:05 10:20:30+01:00",
        "-XMP-xmp:ModifyDate=2024:03:06 11:00:00.25Z",
    ), base="reportlab-base", about="no /Info: rdf:Alt with and without x-default"),
    Made("exiftool-attributes", "exiftool", (
        "-api", "XMPShorthand=1", "-PDF:all=", "-XMP-dc:Title=Titre “court”",
        "-XMP-dc:Creator+=Alice", "-XMP-pdf:Keywords=un; deux & trois",
        "-XMP-pdf:Producer=Prod <x> ™", "-XMP-xmp:CreatorTool=Outil ™",
        "-XMP-xmp:CreateDate=2024:03:05 10:20:30+01:00",
        "-XMP-xmp:ModifyDate=2024:03:06 11:00:00Z",
    ), base="reportlab-base", about="no /Info: simple properties as attributes"),
    Made("exiftool-info-utf16", "exiftool", (
        "-PDF:Title=Titre ™ – “x”", "-PDF:Author=Ωmega", "-PDF:Subject=café",
    ), base="reportlab-base", about="/Info rewritten by exiftool: UTF-16BE hexadecimal"),
    # Documentation PDFs whose packets have shapes none of the above writes.
    Made("createpdf-xap-attributes", "shipped", f"{TEXMF}/metapost/mpattern/mpattern_test.pdf",
         about="Adobe createpdf 5.6 (2005): no x:xmpmeta, xap: and dc:title as attributes"),
    without_info_of("createpdf-xap-attributes", "its XMP alone"),
    Made("gsview-xap-elements", "shipped", "/usr/share/lyx/doc/clipart/Abstract.pdf",
         about="GSview: xap: elements, an empty x-default title and an empty rdf:Bag"),
    without_info_of("gsview-xap-elements", "its XMP alone"),
    Made("luatex-two-authors", "shipped", f"{TEXMF}/latex/langnames/langnames.pdf",
         about="LuaHBTeX: rdf:Seq of two authors, Devanagari; UTF-16BE /Info"),
    without_info_of("luatex-two-authors", "its XMP alone"),
    Made("pdftex-entities", "shipped", f"{TEXMF}/latex/microtype/microtype.pdf",
         about="pdfTeX: &lt;...&gt; in dc:creator; rdf:Alt of en-GB only"),
    without_info_of("pdftex-entities", "its XMP alone"),
    Made("ghostscript8-bad-utf8", "shipped", f"{TEXMF}/metapost/drv/drv-guide.pdf",
         about="Ghostscript 8.71: a Latin-1 byte in the XMP packet; raw Latin-1 in /Info"),
    without_info_of("ghostscript8-bad-utf8", "its XMP alone"),
    Made("fop-simple-elements", "shipped", "/usr/share/doc/xorg-docs/README.pdf.gz",
         about="Apache FOP: dc:title and dc:creator as plain elements"),
    without_info_of("fop-simple-elements", "its XMP alone"),
]

# What each required tag stands for: the faults that the files must exercise at least once.
REQUIRED = {
    "PDFDocEncoding": "/Info bytes that PDFDocEncoding and Latin-1 read differently",
    "UTF-16BE": "/Info text strings in UTF-16BE after FE FF",
    "literal escapes": "/Info literal strings with backslash escapes",
    "Info over a different XMP value": "an /Info entry wins over the XMP value",
    "UTF-8 in XMP": "non-ASCII XMP values",
    "malformed UTF-8 in XMP": "XMP bytes that are not UTF-8 (U+FFFD)",
    "XML entities": "entities decoded in XMP values",
    "rdf:Seq of 2+": "list items joined with \"; \"",
    "attribute form": "XMP properties written as attributes",
    "prefix xap:": "XMP properties under another prefix for their namespace",
    "rdf:Alt without x-default": "the first item of an rdf:Alt without x-default",
    "rdf:Alt of 2+ languages": "the x-default item of an rdf:Alt of several",
}

# exiftool's tags (-G1) for the eight keys: in the XMP packet and in the information dictionary.
XMP_TAGS = {"Title": "XMP-dc:Title", "Author": "XMP-dc:Creator",
            "Subject": "XMP-dc:Description", "Keywords": "XMP-pdf:Keywords",
            "Producer": "XMP-pdf:Producer", "Creator": "XMP-xmp:CreatorTool",
            "CreationDate": "XMP-xmp:CreateDate", "ModDate": "XMP-xmp:ModifyDate"}
LANGUAGE_ALTERNATIVES = ("Title", "Subject")  # exiftool shows other languages as TAG-lang
INFO_TAGS = {key: f"PDF:{key}" for key in INFO_KEYS[:6]}
EXIFTOOL = ("exiftool", "-j", "-n", "-b", "-struct", "-G1", "-a", "-XMP-dc:all",
            "-XMP-pdf:all", "-XMP-xmp:all", "-PDF:all")
AS_WRITTEN = Variant("text", None, as_written=True)


# --- Making the files --------------------------------------------------------------------------

REPORTLAB_SCRIPT = """
import json, sys
from reportlab.pdfgen import canvas
for path, info in json.load(sys.stdin):
    # invariant: fixed dates and /ID, so that the file is the same on every run.
    c = canvas.Canvas(path, invariant=1)
    for key, value in info.items():
        getattr(c, "set" + key)(value)
    c.drawString(72, 720, "Vellumtag text fidelity")
    c.showPage()
    c.save()
"""


def reportlab_python():
    """A Python that imports reportlab: this one, or Debian's, for which python3-reportlab is
    installed (this one may be another build)."""
    for python in dict.fromkeys([sys.executable, "/usr/bin/python3"]):
        if os.path.exists(python) and subprocess.run(
                [python, "-c", "import reportlab"], capture_output=True).returncode == 0:
            return python
    return None


def cache_key(made, keys):
    text = f"{CACHE_VERSION}|{made.name}|{made.tool}|{made.recipe!r}|{keys.get(made.base)}"
    if made.tool == "shipped":
        stat = os.stat(made.recipe)
        text += f"|{stat.st_size}|{stat.st_mtime_ns}"
    return hashlib.sha1(text.encode()).hexdigest()[:16]


def make(made, pdf, base_pdf):
    """Writes pdf (not ReportLab's: those are made together). A file of that name is always
    whole: it is written under another name first."""
    if made.tool == "shipped":
        make_file(made.recipe, None, pdf)
    elif made.tool == "Ghostscript":
        with open(pdf + ".ps", "w", encoding="latin-1") as f:
            f.write(made.recipe)
        make_file(pdf + ".ps", GHOSTSCRIPT, pdf)
        os.remove(pdf + ".ps")
    elif made.tool == "exiftool":
        if os.path.exists(pdf + ".part"):  # exiftool -o writes no file that exists
            os.remove(pdf + ".part")
        make_file(base_pdf, ("exiftool", "-q", "-q", *made.recipe, "-o", OUT, IN), pdf)
    elif made.tool == "no /Info":
        with open(base_pdf, "rb") as f:
            data = f.read()
        if not names_info(data):
            raise RuntimeError(f"{base_pdf} names no /Info to rename")
        with open(pdf + ".part", "wb") as f:
            f.write(without_info(data))
        os.replace(pdf + ".part", pdf)


def make_all(files, work, jobs, failures, keep_others):
    """{name: path} of the files made (or found in the cache); a file that cannot be made, or
    whose base could not, is a failure. Files of the cache that no recipe names any more are
    removed, unless keep_others."""
    os.makedirs(work, exist_ok=True)
    keys, paths = {}, {}
    for made in files:  # a base comes before the files made from it
        if made.tool == "shipped" and not os.path.exists(made.recipe):
            failures.append(f"{made.name}: {made.recipe} is not installed (scripts/test "
                            "installs CORPUS_PACKAGES)")
            continue
        if made.base and made.base not in keys:
            failures.append(f"{made.name}: no {made.base} to make it from")
            continue
        keys[made.name] = cache_key(made, keys)
        paths[made.name] = os.path.join(work, f"{made.name}-{keys[made.name]}.pdf")
    stems = {os.path.basename(p)[:-4] for p in paths.values()}
    for name in os.listdir(work) if not keep_others else []:
        if name.rsplit(".", 1)[0] not in stems:  # from recipes changed or gone, or unfinished
            os.remove(os.path.join(work, name))

    pending = [m for m in files if m.name in paths and not os.path.exists(paths[m.name])]
    reportlab = [m for m in pending if m.tool == "ReportLab"]
    if reportlab:
        python = reportlab_python()
        batch = [(paths[m.name] + ".part", m.recipe) for m in reportlab]
        result = subprocess.run([python or "python3", "-c", REPORTLAB_SCRIPT],
                                input=json.dumps(batch).encode(), capture_output=True)
        for m in reportlab:
            if result.returncode == 0 and os.path.exists(paths[m.name] + ".part"):
                os.replace(paths[m.name] + ".part", paths[m.name])
            else:
                failures.append(f"{m.name}: ReportLab failed ({python or 'no python3'} with "
                                f"reportlab: python3-reportlab): "
                                f"{result.stderr.decode('utf-8', 'replace').strip()[-500:]}")
                del paths[m.name]
    pending = [m for m in pending if m.tool != "ReportLab"]
    with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
        while pending:  # the files whose base is there, then the files made from those
            ready = [m for m in pending if not m.base or os.path.exists(paths.get(m.base, ""))]
            if not ready:
                for m in pending:
                    failures.append(f"{m.name}: no {m.base} to make it from")
                    del paths[m.name]
                break
            pending = [m for m in pending if m not in ready]
            futures = {m: pool.submit(make, m, paths[m.name], paths.get(m.base)) for m in ready}
            for m, future in futures.items():
                try:
                    future.result()
                except (RuntimeError, OSError, subprocess.SubprocessError) as error:
                    failures.append(f"{m.name}: could not make it: {error}")
                    del paths[m.name]
    return paths


def unlisted_packages(files, lib_sh):
    """The packages of the shipped files that CORPUS_PACKAGES of lib_sh does not list, which
    scripts/test (and so CI) would not install: {path: package}."""
    shipped = [m.recipe for m in files if m.tool == "shipped" and os.path.exists(m.recipe)]
    if not shipped:
        return {}
    output = subprocess.run(["dpkg", "-S", *shipped], capture_output=True, text=True).stdout
    owners = {}
    for line in output.splitlines():
        package, _, path = line.partition(": ")
        owners[path] = package.split(":")[0]
    listed = set(corpus_packages(lib_sh))
    return {path: owners.get(path, "(no package)") for path in shipped
            if owners.get(path) not in listed}


# --- The peers' answers ------------------------------------------------------------------------

PDFINFO_LINE = re.compile(r"^(Title|Subject|Keywords|Author|Creator|Producer|CreationDate|"
                          r"ModDate):(.*)$", re.M)


def ask_pdfinfo(pdf):
    """{key: text} of the information dictionary as pdfinfo shows it, dates as written."""
    output = run(["pdfinfo", "-enc", "UTF-8", "-rawdates", pdf], check=False).stdout
    return {m.group(1): m.group(2) for m in PDFINFO_LINE.finditer(output.decode("utf-8",
                                                                                "replace"))}


def ask_exiftool(pdfs):
    """{path: [(tag, value), ...]} in exiftool's order, duplicates kept (-a): lists are JSON
    arrays (-struct), values are as stored (-n), and bytes that are not UTF-8 come as
    "base64:..." (-b)."""
    if not pdfs:
        return {}
    output = run([*EXIFTOOL, *pdfs], check=False).stdout
    answers = {}
    for pairs in json.loads(output or b"[]", object_pairs_hook=lambda pairs: pairs):
        answers[dict(pairs)["SourceFile"]] = [[tag, value] for tag, value in pairs]
    return answers


def answers_of(paths, jobs, failures):
    """{name: answers}: qpdf's view (conformance.ask_qpdf, the information dictionary as
    written included), pdfinfo's and exiftool's; cached beside each file."""
    answers, asking = {}, []
    for name, pdf in paths.items():
        cached = pdf[:-4] + ".json"
        if os.path.exists(cached):
            with open(cached, encoding="utf-8") as f:
                answers[name] = json.load(f)
        else:
            asking.append(name)

    def ask(name):
        try:
            return {"qpdf": ask_qpdf(paths[name], AS_WRITTEN),
                    "pdfinfo": ask_pdfinfo(paths[name])}
        except (RuntimeError, ValueError, LookupError, subprocess.SubprocessError) as error:
            failures.append(f"{name}: qpdf could not read it: {error!r} (the file: "
                            f"{paths[name]})")
            return None

    with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
        asked = {name: a for name, a in zip(asking, pool.map(ask, asking)) if a}
    exiftool = ask_exiftool([paths[name] for name in asked])
    for name, answer in asked.items():
        answer["exiftool"] = exiftool.get(paths[name], [])
        cached = paths[name][:-4] + ".json"
        with open(cached + ".part", "w", encoding="utf-8") as f:
            json.dump(answer, f)
        os.replace(cached + ".part", cached)
        answers[name] = answer
    return answers


# --- Expected values ---------------------------------------------------------------------------

def exiftool_text(value, xmp):
    """An exiftool value as text. Bytes that are not UTF-8 come base64-encoded: in XMP they
    are read as UTF-8 with U+FFFD for what does not decode; exiftool writes the UTF-16 of
    /Info strings as UTF-8 unit by unit, surrogates included (CESU-8), which is put back
    together. Numbers (-n shows numeric text as such) come back as their text."""
    if isinstance(value, list):
        items = [exiftool_text(item, xmp).strip(BLANKS) for item in value]
        return "; ".join(item for item in items if item)
    if not isinstance(value, str):
        return json.dumps(value)
    if value.startswith("base64:"):
        data = base64.b64decode(value[7:])
        if xmp:
            return data.decode("utf-8", "replace")
        return (data.decode("utf-8", "surrogatepass").encode("utf-16-be", "surrogatepass")
                .decode("utf-16-be", "replace"))
    return value


def xmp_date(text):
    """exiftool shows an XMP date (ISO 8601, "2024-03-05T10:20:30+01:00") as
    "2024:03:05 10:20:30+01:00"; this gives the date as stored."""
    return re.sub(r"^(\d{4}):(\d\d)(?::(\d\d))?(?: (\d\d:\d\d))?",
                  lambda m: "-".join(g for g in m.groups()[:3] if g)
                  + (f"T{m.group(4)}" if m.group(4) else ""), text)


def exiftool_xmp(pairs, key):
    """(value, raw): exiftool's XMP value for key by the reader's rules: the first non-empty
    of its tags, x-default before other languages, which come as TAG-lang. value is None when
    none has text; raw is then the first empty one (or None: no such property)."""
    tag = XMP_TAGS[key]
    found = [(t, v) for t, v in pairs if t == tag]
    if key in LANGUAGE_ALTERNATIVES:
        found += [(t, v) for t, v in pairs if t.startswith(tag + "-")]
    for _, raw in found:
        text = exiftool_text(raw, True).strip(BLANKS)
        if text:
            return (xmp_date(text) if key in DATES else text), raw
    return None, found[0][1] if found else None


def blank_is_none(text):
    text = text.strip(BLANKS) if text is not None else None
    return text or None


def info_entries(qpdf):
    """{key: (value, raw written text or None)} of the information dictionary, by qpdf: a
    referenced value resolved, the string token as the file writes it where qpdf found the
    dictionary as written."""
    objects = qpdf["objects"]
    trailer = dict(parse_dictionary(qpdf["trailer"]))
    info = trailer.get(b"Info")
    if isinstance(info, Ref):
        number = f"{info.number},{info.generation}"
        text, written = objects.get(number, ""), qpdf["written"].get(number)
    else:
        text, written = getattr(info, "source", ""), None
    if "<<" not in text:
        return {}
    raw = {}
    if written:
        tokens = tokenize(written.encode("latin-1"))
        for token, following in zip(tokens, tokens[1:]):
            if token.kind == "name" and following.kind == "string":
                raw.setdefault(token.value.decode("latin-1"),
                               written.encode("latin-1")[following.start:following.end])
    entries = {}
    for key, value in parse_dictionary(text):
        key = key.decode("latin-1")
        if isinstance(value, Ref):
            value = first_object(objects.get(f"{value.number},{value.generation}", ""))
        entries.setdefault(key, (value, raw.get(key)))
    return entries


# --- What a value exercises --------------------------------------------------------------------

ENTITY = re.compile(r"&(?:#\d+|#x[0-9A-Fa-f]+|[A-Za-z]+);")


def info_tags(value, raw):
    """What an /Info string exercises (ISO 32000-1, 7.3.4 strings and 7.9.2.2 text strings;
    ISO 32000-2 adds UTF-8 after EF BB BF)."""
    if not isinstance(value, String):
        return ["not a string"]
    data, tags = value.data, []
    if data.startswith(b"\xfe\xff"):
        tags.append("UTF-16BE")
        if any(ord(c) > 0xFFFF for c in data[2:].decode("utf-16-be", "replace")):
            tags.append("UTF-16 surrogate pairs")
    elif data.startswith(b"\xff\xfe"):
        tags.append("UTF-16LE")
    elif data.startswith(b"\xef\xbb\xbf"):
        tags.append("UTF-8 text string")
    elif any(byte in PDFDOC for byte in data):
        tags.append("PDFDocEncoding")
    elif any(byte >= 0xA1 for byte in data):
        tags.append("Latin-1 range bytes")
    if raw and raw.startswith(b"(") and b"\\" in raw:
        tags.append("literal escapes")
    elif raw and raw.startswith(b"<"):
        tags.append("hexadecimal string")
    if data.strip(BLANKS.encode()) != data:
        tags.append("blanks to trim")
    return tags


def xmp_tags(packet, key, raw_value):
    """What the XMP property for key exercises, from the packet as stored (qpdf's decoded
    stream, bytes as latin-1 text) and exiftool's raw value: its form (element or attribute),
    prefix, container, entities and encoding (ISO 16684-1, XMP: simple values as elements or
    attributes, arrays as rdf:Alt, rdf:Seq and rdf:Bag)."""
    data = packet.encode("latin-1")
    namespace, local, qualified = XMP_ELEMENTS[key]
    canonical = qualified.split(":")[0]
    tags = []
    text = exiftool_text(raw_value, True)
    if not text.strip(BLANKS):
        tags.append("empty XMP value")
    if isinstance(raw_value, str) and raw_value.startswith("base64:") or (
            isinstance(raw_value, list) and any(str(v).startswith("base64:")
                                                for v in raw_value)):
        tags.append("malformed UTF-8 in XMP")
    elif any(ord(c) > 0x7F for c in text):
        tags.append("UTF-8 in XMP")
    if key in DATES:
        tags.append("XMP date")
    xml = data.decode("utf-8", "replace")
    try:
        root = ET.fromstring(xml.encode("utf-8"))
    except ET.ParseError as error:
        return tags + [f"XMP not well-formed ({error})"]
    if root.tag != "{adobe:ns:meta/}xmpmeta":
        tags.append("no x:xmpmeta")
    tag = f"{{{namespace}}}{local}"
    descriptions = list(root.iter(f"{{{RDF}}}Description"))
    holder = next((d for d in descriptions
                   if d.find(tag) is not None or d.get(tag) is not None), None)
    if holder is not None and descriptions.index(holder) > 0:
        tags.append("in a later rdf:Description")
    element = holder.find(tag) if holder is not None else None
    prefixes = [m.group(1) for m in re.finditer(
        r"xmlns(?::([\w.-]+))?\s*=\s*[\"']" + re.escape(namespace) + "[\"']", xml)]
    for prefix in dict.fromkeys(prefixes):
        # An attribute without a prefix is in no namespace: only elements take the default.
        name = re.escape(f"{prefix}:{local}" if prefix else local)
        pattern = rf"<{name}\b.*?</{name}\s*>"
        if prefix:
            pattern += rf"|\s{name}\s*=\s*(\"[^\"]*\"|'[^']*')"
        written = re.search(pattern, xml, re.S)
        if not written:
            continue
        if prefix != canonical:
            tags.append(f"prefix {prefix}:" if prefix else "default namespace")
        if ENTITY.search(written.group()):
            tags.append("XML entities")
    if element is None:
        return tags + (["attribute form"] if holder is not None else [])
    for container in ("Alt", "Seq", "Bag"):
        found = element.find(f"{{{RDF}}}{container}")
        if found is None:
            continue
        items = found.findall(f"{{{RDF}}}li")
        languages = [li.get("{http://www.w3.org/XML/1998/namespace}lang") for li in items]
        if container == "Alt" and "x-default" not in languages:
            tags.append("rdf:Alt without x-default")
        elif container == "Alt" and len(items) > 1:
            tags.append("rdf:Alt of 2+ languages")
        elif container == "Seq" and len(items) > 1:
            tags.append("rdf:Seq of 2+")
        elif container == "Bag":
            tags.append("rdf:Bag" if items else "empty rdf:Bag")
        break
    else:
        tags.append("simple element")
    return tags


# --- Checking ----------------------------------------------------------------------------------

@dataclass
class Value:
    """One key of one file: ours, the expected value and its peer, and what it exercises
    (no tags: neither side has the key)."""
    file: str
    key: str
    ours: str
    expected: str
    peer: str
    tags: list
    rule: str = None  # the reader's rule that explains a difference, if one does


# Differences that a rule of the reader explains: shown, counted, not failed. Ghostscript 8
# wrote an empty /Subject into its XMP packet as the PostScript text of an empty string.
READER_RULES = {
    "the XMP text \"()\" read as empty (Ghostscript 8's empty string)":
        lambda ours, expected: ours is None and expected == "()",
}


def check_file(made, answers, ours):
    """(values, notes) of one file."""
    entries = info_entries(answers["qpdf"])
    pdfinfo, exiftool = answers["pdfinfo"], answers["exiftool"]
    packet = answers["qpdf"].get("metadata")
    values, notes = [], []
    for key in INFO_KEYS:
        xmp, raw = exiftool_xmp(exiftool, key)
        mine = blank_is_none(ours.get(key))
        if key in entries:
            expected, peer = blank_is_none(pdfinfo.get(key)), "pdfinfo"
            tags = info_tags(*entries[key])
            if xmp is not None and xmp != expected and key not in DATES:
                tags.append("Info over a different XMP value")
            if key in INFO_TAGS:
                theirs = next((v for t, v in exiftool if t == INFO_TAGS[key]), None)
                if theirs is not None:
                    theirs = blank_is_none(exiftool_text(theirs, False))
                if theirs != expected:
                    matches = ("pdfinfo" if mine == expected else "exiftool"
                               if mine == theirs else "neither")
                    notes.append(f"{made.name} {key}: pdfinfo {show(expected)}, exiftool "
                                 f"{show(theirs)}; ours {show(mine)} matches {matches}")
        else:
            expected, peer = xmp, "exiftool (XMP)"
            tags = xmp_tags(packet, key, raw) if raw is not None and packet else []
        value = Value(made.name, key, mine, expected, peer, tags)
        if mine != expected:
            value.rule = next((name for name, applies in READER_RULES.items()
                               if applies(mine, expected)), None)
        if tags or mine is not None or expected is not None:
            values.append(value)
    return values, notes


def print_summary(files, values):
    """The table per file, the tags exercised per file and the table per tag; returns the
    tags of REQUIRED that no value exercises."""
    by_file = defaultdict(list)
    for value in values:
        by_file[value.file].append(value)
    print(f"\n{'file':<34} {'made by':<11} {'/Info':>5} {'XMP':>4} {'equal':>5} {'rule':>4} "
          f"{'differ':>6}  what it is for")
    for made in files:
        rows = by_file.get(made.name, [])
        info = sum(v.peer == "pdfinfo" for v in rows)
        equal = sum(v.ours == v.expected for v in rows)
        rule = sum(v.rule is not None for v in rows)
        print(f"{made.name:<34} {made.tool:<11} {info:>5} {len(rows) - info:>4} {equal:>5} "
              f"{rule:>4} {len(rows) - equal - rule:>6}  {made.about}")
    print("\nwhat each file exercises (tags of the values compared, with their count):")
    for made in files:
        tags = Counter(t for v in by_file.get(made.name, []) for t in v.tags)
        if tags:
            print(f"  {made.name}: " + ", ".join(f"{t} {n}" for t, n in sorted(tags.items())))
    per_tag = defaultdict(lambda: {"files": set(), "values": 0, "differ": 0})
    for v in values:
        for t in v.tags:
            per_tag[t]["files"].add(v.file)
            per_tag[t]["values"] += 1
            per_tag[t]["differ"] += v.ours != v.expected and v.rule is None
    print(f"\n{'tag':<34} {'files':>5} {'values':>6} {'differ':>6}  required: the fault")
    for t in sorted(per_tag, key=lambda t: (t not in REQUIRED, t)):
        c = per_tag[t]
        print(f"{t:<34} {len(c['files']):>5} {c['values']:>6} {c['differ']:>6}  "
              f"{REQUIRED.get(t, '-')}")
    return [t for t in REQUIRED if t not in per_tag]


def main():
    parser = harness_arguments(__doc__.split("\n\n")[0], "note (unused: all are printed)")
    args = parser.parse_args()
    started = time.monotonic()
    failures = []
    absent = [tool for tool in ("qpdf", "pdfinfo", "exiftool", "gs") if not shutil.which(tool)]
    if absent:
        print(f"FAILED: needs {', '.join(absent)} (scripts/test installs CONFORMANCE_PACKAGES)")
        return 1
    if args.files:
        files = []
        for path in args.files:
            name = re.sub(r"[^\w.-]", "_", os.path.basename(path))
            files.append(Made(name, "shipped", os.path.abspath(path), about=path))
            with (gzip.open if path.endswith(".gz") else open)(path, "rb") as f:
                if names_info(f.read()):
                    files.append(without_info_of(name, "its XMP alone"))
    else:
        files = FILES
        for path, package in unlisted_packages(files, args.packages_from).items():
            failures.append(f"{path}: its package {package} is not in CORPUS_PACKAGES of "
                            f"{args.packages_from}: scripts/test would not install it")

    paths = make_all(files, args.work, args.jobs, failures, bool(args.files))
    answers = answers_of(paths, args.jobs, failures)
    records = dump(args.dump, [paths[name] for name in answers]) if answers else {}
    values, notes = [], []
    for made in files:
        if made.name not in answers:
            continue
        record = records.get(paths[made.name])
        if record is None or record[0] != 0:
            failures.append(f"{made.name}: not read: "
                            f"{record[:2] if record else 'no line from metadata_dump'} "
                            f"(the file: {paths[made.name]})")
            continue
        try:
            found, said = check_file(made, answers[made.name], record[2])
        except (ValueError, LookupError, StopIteration) as error:
            failures.append(f"{made.name}: qpdf's answers not understood: {error!r}")
            continue
        values += found
        notes += said

    differ = [v for v in values if v.ours != v.expected and v.rule is None]
    for line in notes:
        print(f"note: exiftool and pdfinfo disagree: {line}")
    for v in values:
        if v.rule:
            print(f"note: {v.file} {v.key}: ours {show(v.ours)}, {v.peer} {show(v.expected)}: "
                  f"{v.rule}")
    for v in differ:
        print(f"MISMATCH {v.file} {v.key}: ours {show(v.ours)}, {v.peer} {show(v.expected)} "
              f"[{', '.join(v.tags) or '-'}] (the file: {paths[v.file]})")
    for line in failures:
        print(f"FAILED {line}")
    not_exercised = print_summary(files, values)
    if args.files:
        not_exercised = []
    for tag in not_exercised:
        print(f"FAILED not exercised: {tag} ({REQUIRED[tag]})")
    explained = sum(v.rule is not None for v in values)
    print(f"\ntext fidelity: {len(answers)} files, {len(values)} values compared: "
          f"{len(values) - len(differ) - explained} equal, {explained} explained by a rule of "
          f"the reader, {len(differ)} differ; {len(notes)} notes; "
          f"{len(failures) + len(not_exercised)} failures; {time.monotonic() - started:.1f} s")
    return 1 if differ or failures or not_exercised else 0


if __name__ == "__main__":
    sys.exit(main())
