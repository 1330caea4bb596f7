#!/usr/bin/env python3
"""Builds the seed corpus of every fuzz target from PDFs: the project's own and real ones.

usage: make_seeds.py OUT_DIR PDF_OR_FOLDER...

document     the whole files (the smaller ones, so that a run spends its time mutating)
dictionary   every "<<" ... ">>" run of a file's first kilobytes, and the trailers
xref_stream  each file from its startxref offset on: a table or a cross-reference stream
xmp          the XMP packets found in the files (uncompressed metadata streams)
"""
import hashlib
import pathlib
import re
import sys
import zlib

MAX_DOCUMENT = 64 * 1024


def pdfs(args):
    for arg in args:
        path = pathlib.Path(arg)
        if path.is_dir():
            yield from sorted(p for p in path.rglob("*.pdf") if p.is_file())
        elif path.is_file():
            yield path


def put(folder, data):
    folder.mkdir(parents=True, exist_ok=True)
    (folder / hashlib.sha1(data).hexdigest()).write_bytes(data)


def main():
    out = pathlib.Path(sys.argv[1])
    for path in pdfs(sys.argv[2:]):
        data = path.read_bytes()
        if len(data) <= MAX_DOCUMENT:
            put(out / "document", data)
        for match in list(re.finditer(rb"<<.{0,400}?>>", data[:4096], re.S))[:4]:
            put(out / "dictionary", match.group(0))
        tail = re.search(rb"startxref\s+(\d+)", data[-64:])
        if tail and int(tail.group(1)) < len(data):
            section = data[int(tail.group(1)):]
            put(out / "xref_stream", section[:MAX_DOCUMENT])
            # The trailer or stream dictionary on its own.
            dictionary = re.search(rb"<<.*?>>", section[:2048], re.S)
            if dictionary:
                put(out / "dictionary", dictionary.group(0))
        for packet in re.findall(rb"<\?xpacket begin.*?<\?xpacket end[^>]*>", data, re.S)[:1]:
            put(out / "xmp", packet)
        # Compressed metadata streams: inflate what looks like one near an /XML subtype.
        for match in re.finditer(rb"/Subtype\s*/XML.{0,200}?stream\r?\n", data, re.S):
            try:
                packet = zlib.decompressobj().decompress(data[match.end():match.end() + 65536])
            except zlib.error:
                continue
            if b"xmpmeta" in packet:
                put(out / "xmp", packet)
                break


if __name__ == "__main__":
    main()
