#!/usr/bin/env python3
"""The object grammar against qpdf: every value the reader prints of generated documents.

write_grammar_documents writes random documents (tests/support/GrammarDocuments.h) whose
catalog, page tree root and information dictionary carry junk objects of every kind, with
comments and every white-space character between the tokens. qpdf rewrites each with object
streams, and encrypts each with the empty password by RC4 (128-bit), AES-128 and AES-256,
which fills every junk string with ciphertext of fresh random bytes. The reader (metadata_dump)
reads every file; qpdf's --json view of the same file (its information dictionary and its
pages) is mapped to the reader's flat form:

- a nested dictionary gives its key the count of the entries folded under it, and each of
  them a key "parent.child";
- a string is text as ISO 32000-1, 7.9.2.2 decodes it (UTF-16BE after FE FF, PDFDocEncoding
  otherwise), a name its UTF-8 text, a number its value, a boolean its keyword;
- every value is trimmed of the six white-space characters;
- PageCount is the number of pages qpdf finds;
- an unpaired UTF-16 surrogate, which the reader keeps, is compared as qpdf shows it (dropped
  when high, its low ten bits when low): the one rule of this test.

An array is printed as its source text, so it is tokenized by conformance.py's own reader of
PDF syntax and compared item by item with qpdf's:
names, numbers, strings, references (the number may differ in a rewrite), null and nested
objects. In an encrypted file the array's strings are ciphertext as written, so there only
their kind is compared. The test fails on any difference, a load that is not OK, or fewer
junk objects than asked. Usage:

    grammar.py --writer write_grammar_documents --dump metadata_dump --work DIR
               [--documents N] [--seed S] [--min-objects N]
"""

import argparse
import concurrent.futures
import json
import os
import re
import shutil
import subprocess
import sys
from decimal import Decimal, InvalidOperation

from conformance import pdfdoc, tokenize

# qpdf's rewrites; the empty user and owner passwords.
VARIANTS = {
    "original": None,
    "objstm": ["--object-streams=generate"],
    "rc4-128": ["--allow-weak-crypto", "--encrypt", "", "", "128", "--use-aes=n", "--"],
    "aes-128": ["--encrypt", "", "", "128", "--use-aes=y", "--"],
    "aes-256": ["--encrypt", "", "", "256", "--"],
}
ENCRYPTED = {"rc4-128", "aes-128", "aes-256"}

# The reader trims values of these (tab, line feed, carriage return and space), not of NUL or
# form feed.
TRIMMED = "\t\n\r "



def text_of(data: bytes) -> str:
    """A text string's bytes as text (7.9.2.2), as UTF-16 code units kept in a str."""
    if data[:2] == b"\xfe\xff":
        body = data[2:]
        units = [body[i] << 8 | body[i + 1] for i in range(0, len(body) - 1, 2)]
        return "".join(chr(u) for u in units)
    return pdfdoc(data)


def units(text: str) -> str:
    """Text as UTF-16 code units, each a character, as metadata_dump prints them."""
    out = []
    for ch in text:
        c = ord(ch)
        if c > 0xFFFF:
            c -= 0x10000
            out += [chr(0xD800 + (c >> 10)), chr(0xDC00 + (c & 0x3FF))]
        else:
            out.append(ch)
    return "".join(out)


def as_qpdf_shows(text: str) -> str:
    """The reader's text as qpdf shows the same string: qpdf drops an unpaired high surrogate
    and reads an unpaired low one as its low ten bits, where the reader keeps both as they
    are (the console tool then reports them as unsupported). The one rule of this test."""
    out, i = [], 0
    while i < len(text):
        c = ord(text[i])
        if 0xD800 <= c < 0xDC00 and i + 1 < len(text) and 0xDC00 <= ord(text[i + 1]) < 0xE000:
            out.append(text[i:i + 2])
            i += 2
            continue
        if 0xD800 <= c < 0xDC00:
            pass
        elif 0xDC00 <= c < 0xE000:
            out.append(chr(c & 0x3FF))
        else:
            out.append(text[i])
        i += 1
    return "".join(out)


def qpdf_string(value: str) -> str:
    """qpdf's JSON form of a string ("u:text" or "b:hex") as decoded text."""
    if value.startswith("u:"):
        return units(value[2:])
    return text_of(bytes.fromhex(value[2:]))


def qpdf_name(value: str) -> str:
    """qpdf's JSON form of a name ("/text", or "n:/#xx..." where it is not UTF-8)."""
    if value.startswith("n:"):
        raw = re.sub(rb"#([0-9A-Fa-f]{2})", lambda m: bytes([int(m.group(1), 16)]),
                     value[3:].encode("latin-1"))
        return units(raw.decode("utf-8", "replace"))
    return units(value[1:])


def kind_of(value):
    """The kind of a qpdf JSON value: dict, array, string, name, ref, number, bool, null."""
    if isinstance(value, dict):
        return "dict"
    if isinstance(value, list):
        return "array"
    if isinstance(value, bool):
        return "bool"
    if value is None:
        return "null"
    if isinstance(value, str):
        if value.startswith(("u:", "b:")):
            return "string"
        if value.startswith(("/", "n:/")):
            return "name"
        if re.fullmatch(r"\d+ \d+ R", value):
            return "ref"
        return "number"  # "#" and the number's text
    return "number"


def same_number(a, b) -> bool:
    try:
        return Decimal(str(a).lstrip("#")) == Decimal(str(b).lstrip("#"))
    except InvalidOperation:
        return False


def flat(prefix: str, value, out: dict) -> int:
    """Enters the qpdf value under the key as the reader prints it; the number of entries
    entered under nested keys."""
    kind = kind_of(value)
    if kind == "dict":
        count = 0
        for key, item in value.items():
            count += 1 + flat(prefix + "." + qpdf_name(key), item, out)
        out[prefix] = ("text", str(count))
        return count
    if kind == "array":
        out[prefix] = ("array", value)
    elif kind == "string":
        out[prefix] = ("text", qpdf_string(value).strip(TRIMMED))
    elif kind == "name":
        out[prefix] = ("text", qpdf_name(value).strip(TRIMMED))
    elif kind == "bool":
        out[prefix] = ("text", "true" if value else "false")
    elif kind == "number":
        out[prefix] = ("number", value)
    elif kind == "ref":
        out[prefix] = ("ref", value)
    return 0


def name_text(raw: bytes) -> str:
    """A name's bytes as written, #xx decoded, as UTF-8 text (7.3.5)."""
    decoded = re.sub(rb"#([0-9A-Fa-f]{2})", lambda m: bytes([int(m.group(1), 16)]), raw)
    return units(decoded.decode("utf-8", "replace"))


def structured(tokens, i):
    """The object that starts at tokens[i] (conformance.py's tokens, not the reader's), as
    (kind, value) with arrays and dictionaries nested; and the index after it."""
    token = tokens[i]
    if token.kind == "[":
        items, i = [], i + 1
        while i < len(tokens) and tokens[i].kind != "]":
            item, i = structured(tokens, i)
            items.append(item)
        return ("array", items), i + 1
    if token.kind == "<<":
        entries, i = {}, i + 1
        while i < len(tokens) and tokens[i].kind != ">>":
            key = name_text(tokens[i].value)
            entries[key], i = structured(tokens, i + 1)
        return ("dict", entries), i + 1
    if token.kind == "name":
        return ("name", name_text(token.value)), i + 1
    if token.kind == "string":
        return ("string", token.value), i + 1
    word = token.value
    if word in (b"true", b"false"):
        return ("bool", word == b"true"), i + 1
    if word == b"null":
        return ("null", None), i + 1
    if (i + 2 < len(tokens) and tokens[i + 2].kind == "word" and tokens[i + 2].value == b"R"
            and word.isdigit() and tokens[i + 1].value.isdigit()):
        return ("ref", None), i + 3
    return ("number", word.decode()), i + 1


def same_item(ours, theirs, encrypted: bool) -> bool:
    kind, value = ours
    if kind != kind_of(theirs):
        return False
    if kind == "string":
        return encrypted or as_qpdf_shows(text_of(value)) == qpdf_string(theirs)
    if kind == "name":
        return value == qpdf_name(theirs)
    if kind == "number":
        return same_number(value, theirs)
    if kind == "bool":
        return value == theirs
    if kind == "array":
        return len(value) == len(theirs) and all(
            same_item(a, b, encrypted) for a, b in zip(value, theirs))
    if kind == "dict":
        return value.keys() == {qpdf_name(k) for k in theirs} and all(
            same_item(value[qpdf_name(k)], v, encrypted) for k, v in theirs.items())
    return True  # null, ref


def array_tokens(raw: str):
    """The items of an array's source text."""
    tokens = tokenize(raw.encode("latin-1"))
    items, i = [], 0
    while i < len(tokens):
        item, i = structured(tokens, i)
        items.append(item)
    return items


def qpdf_view(path: str):
    """(the information dictionary, the page count) as qpdf reads the file."""
    out = subprocess.run(["qpdf", "--json=2", "--json-key=qpdf", "--json-key=pages", path],
                         capture_output=True, check=False)
    if out.returncode not in (0, 3):
        raise RuntimeError(f"qpdf --json {path}: {out.stderr.decode(errors='replace')}")
    view = json.loads(JSON_NUMBER.sub(quote_number, out.stdout.decode(errors="surrogateescape")))
    objects = view["qpdf"][1]
    info_ref = objects["trailer"]["value"].get("/Info")
    info = objects.get(f"obj:{info_ref}", {}).get("value", {}) if info_ref else {}
    return info, len(view["pages"])


# qpdf writes numbers as the file does, "+3" and ".5" included, which JSON does not allow:
# every number outside a JSON string becomes the string "#" + its text.
JSON_NUMBER = re.compile(r'("(?:[^"\\]|\\.)*")|([+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?)')


def quote_number(match) -> str:
    return match.group(1) or '"#' + match.group(2) + '"'


def rewrite(job):
    source, target, arguments = job
    out = subprocess.run(["qpdf", *arguments, source, target], capture_output=True, check=False)
    # 3: written, with warnings.
    if out.returncode not in (0, 3):
        raise RuntimeError(f"qpdf {arguments} {source}: {out.stderr.decode(errors='replace')}")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--writer", required=True)
    parser.add_argument("--dump", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--documents", type=int, default=200)
    parser.add_argument("--seed", type=int, default=2026)
    parser.add_argument("--min-objects", type=int, default=5000)
    args = parser.parse_args()

    # Fresh files every run: the encrypted ones hold new random bytes each time.
    shutil.rmtree(args.work, ignore_errors=True)
    original = os.path.join(args.work, "original")
    objects = int(subprocess.run([args.writer, original, str(args.documents), str(args.seed)],
                                 check=True, capture_output=True, text=True).stdout)
    names = sorted(os.listdir(original))
    jobs = []
    for variant, arguments in VARIANTS.items():
        if arguments is None:
            continue
        os.makedirs(os.path.join(args.work, variant))
        jobs += [(os.path.join(original, n), os.path.join(args.work, variant, n), arguments)
                 for n in names]
    workers = max(2, os.cpu_count() or 2)
    with concurrent.futures.ThreadPoolExecutor(workers) as pool:
        list(pool.map(rewrite, jobs))
        files = [os.path.join(args.work, v, n) for v in VARIANTS for n in names]
        views = dict(zip(files, pool.map(qpdf_view, files)))

    dumped = subprocess.run([args.dump, *files], check=True, capture_output=True, text=True)
    differences, values = [], 0
    for line in dumped.stdout.splitlines():
        record = json.loads(line)
        path = record["file"]
        encrypted = os.path.basename(os.path.dirname(path)) in ENCRYPTED
        if record["result"] != 0:
            differences.append(f"{path}: result {record['result']} {record['message']}")
            continue
        info, pages = views[path]
        expected = {}
        for key, item in info.items():
            flat(qpdf_name(key), item, expected)
        expected["PageCount"] = ("text", str(pages))
        # metadata_dump writes keys as bytes; names are UTF-8 (7.3.5).
        got = {units(k.encode("latin-1").decode("utf-8", "replace")): v
               for k, v in record["values"].items()}
        raws = {units(k.encode("latin-1").decode("utf-8", "replace")): v
                for k, v in record.get("raw", {}).items()}
        for key in sorted(expected.keys() | got.keys()):
            values += 1
            kind, want = expected.get(key, ("absent", None))
            have = got.get(key)
            if kind == "array":
                # Only the array's source bytes can be tokenized again.
                ours = array_tokens(raws[key]) if key in raws else None
                ok = ours is not None and len(ours) == len(want) and all(
                    same_item(a, b, encrypted) for a, b in zip(ours, want))
            elif kind == "number":
                ok = have is not None and same_number(have, want)
            elif kind == "ref":
                ok = have is not None
            else:
                ok = have == want or (have is not None and as_qpdf_shows(have) == want)
            if not ok:
                differences.append(f"{path}: {key}: reader {have!r}, qpdf {want!r}")

    print(f"{len(names)} documents, {objects} junk objects, {len(files)} files "
          f"({', '.join(VARIANTS)}), {values} values compared, {len(differences)} differences")
    for difference in differences[:40]:
        print("  " + difference)
    if objects < args.min_objects:
        print(f"too few objects: {objects} < {args.min_objects}")
        return 1
    return 1 if differences else 0


if __name__ == "__main__":
    sys.exit(main())
