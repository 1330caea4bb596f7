"""What the Python tests share: the console tool to compare with, the source tree's files, and
the conformance corpus when conformance.real_world has cached it. CTest sets VELLUMTAG_TOOL,
VELLUMTAG_SOURCE_DIR and VELLUMTAG_CORPUS, and PYTHONPATH to the package in the build tree."""
import json
import os
import pathlib
import subprocess

SOURCE = pathlib.Path(os.environ.get("VELLUMTAG_SOURCE_DIR", pathlib.Path(__file__).parents[2]))
# Every sample and test file: values, UTF-16 and XMP text, incremental updates, every kind of
# encryption the reader opens, and user passwords that it must refuse (106).
FILES = sorted(SOURCE.glob("samples/*.pdf")) + sorted(SOURCE.glob("tests/data/*.pdf"))


def tool():
    return os.environ["VELLUMTAG_TOOL"]


def console_json(*arguments):
    """The console tool's --json output for the arguments, as bytes."""
    done = subprocess.run([tool(), "--json", *map(os.fsencode, arguments)], capture_output=True,
                          check=True, timeout=600)
    return done.stdout


def console_rows(paths):
    return [json.loads(line) for line in console_json(*paths).splitlines()]


def corpus():
    """The folder of conformance.real_world's files, or None before that test has run."""
    folder = pathlib.Path(os.environ.get("VELLUMTAG_CORPUS", SOURCE / "build/conformance-cache"))
    return folder if any(folder.glob("*/*.pdf")) else None
