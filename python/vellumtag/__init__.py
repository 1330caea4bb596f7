"""Vellumtag: the metadata of PDF files, read as the console tool reads them.

    >>> import vellumtag
    >>> vellumtag.read("samples/hello.pdf")["Title"]
    'Hello, Vellumtag'

read() takes a path (str or os.PathLike) or a file's bytes (bytes, bytearray, memoryview) and
gives a dict of key to text, in the console tool's order; a file that can't be read raises
PdfError. Reading releases the interpreter's lock, so threads read in parallel.

With details=True the dict also has a .document attribute, the document's facts as the console
tool's --json "document" object gives them; with xmp=True an .xmp attribute, every property of
the XMP packet ("XMP-dc:Rights" to its text):

    >>> vellumtag.read("samples/hello.pdf", details=True).document["version"]
    '1.7'
"""

from ._vellumtag import __version__, _read

__all__ = ["Metadata", "PdfError", "read", "__version__"]


class PdfError(Exception):
    """A file that could not be read: code is the reader's result code (100 to 199, as the
    console tool prints it), message its text."""

    def __init__(self, code, message):
        super().__init__(code, message)
        self.code = code
        self.message = message

    def __str__(self):
        return f"{self.code}: {self.message}"


class Metadata(dict):
    """The metadata of a file, key to text; document (a dict, or None unless details were
    asked for) and xmp (a dict, empty unless asked for) beside them."""

    def __init__(self, values, document=None, xmp=None):
        super().__init__(values)
        self.document = document
        self.xmp = xmp if xmp is not None else {}


def read(source, details=False, xmp=False):
    """The metadata of a PDF file, given as a path or as its bytes: a dict of key to text,
    with the document's facts (details) and the XMP packet's properties (xmp) when asked.

    Raises PdfError when the file can't be read, TypeError for any other kind of argument."""
    code, message, values, document, properties = _read(source, bool(details), bool(xmp))
    if code != 0:
        raise PdfError(code, message)
    return Metadata(values, document, properties)
