"""vellumtag.read: the console tool's values for every sample and test file, the same result for
every kind of path and of bytes, PdfError with the console tool's codes and messages, and no
memory kept over many reads."""
import os
import pathlib
import pickle
import shutil
import tracemalloc

import pytest
import vellumtag
from conftest import FILES, SOURCE, console_json, console_rows


def outcome(source):
    try:
        values = vellumtag.read(source)
        return 0, list(values.items())
    except vellumtag.PdfError as error:
        return error.code, error.message


def test_every_file_reads_as_the_console_tool_prints_it():
    rows = console_rows(FILES)
    assert len(rows) == len(FILES)
    for path, row in zip(FILES, rows):
        expected = (0, list(row["values"].items())) if row["result"] == 0 else (
            row["result"], row["error"])
        assert outcome(str(path)) == expected, path
    assert sum(row["result"] == 0 for row in rows) >= 15


def test_details_and_xmp_as_the_console_tool_gives_them():
    # The indexer's lines, typed facts included, are the console tool's bytes.
    from vellumtag.index import json_line

    expected = console_json("--details", "--xmp", *FILES).splitlines(keepends=True)
    lines = [json_line(os.fsencode(path), {"details": True, "xmp": True}).encode() for path in FILES]
    assert lines == expected
    plain = vellumtag.read(FILES[0])
    assert plain.document is None and plain.xmp == {}
    detailed = vellumtag.read(FILES[0], details=True)
    assert detailed == plain and detailed.document["pageCount"] == int(plain["PageCount"])


class BytesPath:
    """An os.PathLike whose path is bytes, as os.scandir(bytes) gives."""

    def __init__(self, path):
        self.path = os.fsencode(path)

    def __fspath__(self):
        return self.path


def test_paths_and_bytes_of_every_kind_agree(tmp_path):
    # A name that is not UTF-8 reaches the file system as its bytes.
    odd = tmp_path / os.fsdecode(b"caf\xe9.pdf")
    shutil.copyfile(FILES[0], odd)
    for path in [*FILES, odd]:
        data = path.read_bytes()
        expected = outcome(str(path))
        forms = {
            "str": str(path),
            "Path": pathlib.Path(path),
            "PathLike of bytes": BytesPath(path),
            "bytes": data,
            "bytearray": bytearray(data),
            "memoryview": memoryview(data),
            "memoryview of a slice": memoryview(b"xx" + data)[2:],
        }
        for form, source in forms.items():
            assert outcome(source) == expected, (path, form)


@pytest.mark.parametrize("source, code, message", [
    ("missing.pdf", 100, "File does not exists or can't be read"),
    (SOURCE / "tests/data/README.md", 101, "Not a PDF file"),
    (SOURCE / "tests/data/encrypted-r2-user-password.pdf", 106,
     "PDF metadata encrypted with unsupported encryption or non-empty user password"),
    (SOURCE / "tests/data/encrypted-aes128-user-password.pdf", 106,
     "PDF metadata encrypted with unsupported encryption or non-empty user password"),
    (SOURCE / "tests/data/encrypted-r6-user-password.pdf", 106,
     "PDF metadata encrypted with unsupported encryption or non-empty user password"),
])
def test_failures_raise_pdf_error_with_the_code_and_message(source, code, message):
    with pytest.raises(vellumtag.PdfError) as raised:
        vellumtag.read(source)
    error = raised.value
    assert isinstance(error, Exception)
    assert (error.code, error.message, str(error)) == (code, message, f"{code}: {message}")
    # Dask and multiprocessing send it between processes.
    copy = pickle.loads(pickle.dumps(error))
    assert (type(copy), copy.code, copy.message) == (vellumtag.PdfError, code, message)


@pytest.mark.parametrize("source", [None, 42, ["samples/hello.pdf"], {"path": "x"}])
def test_anything_else_is_a_type_error(source):
    with pytest.raises(TypeError):
        vellumtag.read(source)


def test_version_is_the_projects():
    cmake = (SOURCE / "CMakeLists.txt").read_text()
    assert f"project(Vellumtag VERSION {vellumtag.__version__} " in cmake


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def test_no_memory_kept_over_10000_reads():
    data = FILES[0].read_bytes()
    sources = [str(FILES[0]), data, bytearray(data), "missing.pdf", b"not a pdf",
               str(SOURCE / "tests/data/encrypted-r6-user-password.pdf"),
               str(SOURCE / "samples/unicode-title.pdf")]

    def read_many(count):
        for i in range(count):
            try:
                vellumtag.read(sources[i % len(sources)])
            except vellumtag.PdfError:
                pass

    read_many(1000)
    before = resident_bytes()
    read_many(10_000)
    grown = resident_bytes() - before
    assert grown < 512 << 10, f"resident memory grew by {grown} bytes"

    tracemalloc.start()
    try:
        read_many(1000)
        before = tracemalloc.get_traced_memory()[0]
        read_many(10_000)
        grown = tracemalloc.get_traced_memory()[0] - before
    finally:
        tracemalloc.stop()
    assert grown < 16 << 10, f"Python objects grew by {grown} bytes"
