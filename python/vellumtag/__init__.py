"""Vellumtag: the metadata of PDF files, read as the console tool reads them.

    >>> import vellumtag
    >>> vellumtag.read("samples/hello.pdf")["Title"]
    'Hello, Vellumtag'

read() takes a path (str or os.PathLike) or a file's bytes (bytes, bytearray, memoryview) and
gives a dict of key to text, in the console tool's order; a file that can't be read raises
PdfError. Reading releases the interpreter's lock, so threads read in parallel.
"""

from ._vellumtag import __version__, _read

__all__ = ["PdfError", "read", "__version__"]


class PdfError(Exception):
    """A file that could not be read: code is the reader's result code (100 to 199, as the
    console tool prints it), message its text."""

    def __init__(self, code, message):
        super().__init__(code, message)
        self.code = code
        self.message = message

    def __str__(self):
        return f"{self.code}: {self.message}"


def read(source):
    """The metadata of a PDF file, given as a path or as its bytes: a dict of key to text.

    Raises PdfError when the file can't be read, TypeError for any other kind of argument."""
    code, message, values = _read(source)
    if code != 0:
        raise PdfError(code, message)
    return values
