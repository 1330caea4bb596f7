#!/usr/bin/env bash
# Writes a real-world PDF of about 1 GiB for a benchmark row: a PDF that Debian ships (by
# default covington.pdf of texlive-humanities-doc, one of the corpus packages: pdfTeX, object
# streams, a cross-reference stream; samples/hello.pdf when it is not installed) with a raw RGB
# image of that size drawn under its first page, added by qpdf through its JSON form
# (--update-from-json). The document's own objects stay what they were, so loading its
# metadata should take about as long as loading the original's; the image is never read.
#
#   bench/make_large_pdf.sh [SOURCE_PDF [MEBIBYTES]]
#
# Writes build/bench-corpus/large/<name>-<MEBIBYTES>MiB.pdf once (an existing file is kept) and
# prints its path. Needs qpdf and python3 (BENCH_PACKAGES), and twice the file's size of free
# disk space while it runs. scripts/test does not run it.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
source_pdf=${1:-/usr/share/doc/texlive-doc/latex/covington/covington.pdf}
if [ $# -eq 0 ] && [ ! -f "$source_pdf" ]; then
    source_pdf=$ROOT/samples/hello.pdf
fi
mebibytes=${2:-1024}
[ -f "$source_pdf" ] || { echo "make_large_pdf: no such file: $source_pdf" >&2; exit 2; }
if [[ ! "$mebibytes" =~ ^[1-9][0-9]*$ ]]; then
    echo "make_large_pdf: MEBIBYTES must be a positive number" >&2
    exit 2
fi

out_dir=$ROOT/build/bench-corpus/large
target=$out_dir/$(basename "$source_pdf" .pdf)-${mebibytes}MiB.pdf
if [ -f "$target" ]; then
    echo "$target"
    exit 0
fi
mkdir -p "$out_dir"
work=$(mktemp -d "$out_dir/.work-XXXXXX")
trap 'rm -rf "$work"' EXIT

# A square image of 8-bit RGB samples that fills the size; random, so that it stands for
# photographic data that no filter would shrink.
side=$(python3 -c "import math; print(math.isqrt($mebibytes * 1048576 // 3))")
head -c $((side * side * 3)) /dev/urandom >"$work/image.raw"

qpdf --json=2 --json-key=pages --json-key=qpdf "$source_pdf" >"$work/source.json"
python3 - "$work/source.json" "$work/image.raw" "$side" >"$work/update.json" <<'PYTHON'
import base64, json, sys

source, image, side = sys.argv[1], sys.argv[2], int(sys.argv[3])
document = json.load(open(source))
header, objects = document["qpdf"]
page_id = document["pages"][0]["object"]
image_id = f"{header['maxobjectid'] + 1} 0 R"
content_id = f"{header['maxobjectid'] + 2} 0 R"
changed = {}

def value(reference):
    return changed.get(reference, objects["obj:" + reference].get("value"))

def change(reference, new_value):
    changed[reference] = new_value

def inherited(page, key):
    node = page
    while key not in node and "/Parent" in node:
        node = value(node["/Parent"])
    return node.get(key)

page = dict(value(page_id))
# The page's resources, which pdfTeX writes on each page; inherited ones are copied down so
# that the page keeps its fonts.
resources = page.get("/Resources", inherited(page, "/Resources")) or {}
if isinstance(resources, str):
    resources_id, resources = resources, dict(value(resources))
else:
    resources_id, resources = None, dict(resources)
xobjects = resources.get("/XObject", {})
if isinstance(xobjects, str):
    change(xobjects, dict(value(xobjects), **{"/VellumtagLargeImage": image_id}))
else:
    resources["/XObject"] = dict(xobjects, **{"/VellumtagLargeImage": image_id})
if resources_id:
    change(resources_id, resources)
else:
    page["/Resources"] = resources

# Drawn first, under what the page already shows, over its whole media box.
box = inherited(page, "/MediaBox") or [0, 0, 612, 792]
if isinstance(box, str):
    box = value(box)
x0, y0, x1, y1 = (float(v) for v in box)
drawing = f"q {x1 - x0:g} 0 0 {y1 - y0:g} {x0:g} {y0:g} cm /VellumtagLargeImage Do Q\n"
contents = page.get("/Contents", [])
if isinstance(contents, str) and "stream" not in objects["obj:" + contents]:
    contents = value(contents)
page["/Contents"] = [content_id] + (contents if isinstance(contents, list) else [contents])
change(page_id, page)

update = {"obj:" + reference: {"value": new_value} for reference, new_value in changed.items()}
update["obj:" + image_id] = {"stream": {
    "dict": {"/Type": "/XObject", "/Subtype": "/Image", "/Width": side, "/Height": side,
             "/ColorSpace": "/DeviceRGB", "/BitsPerComponent": 8},
    "datafile": image}}
update["obj:" + content_id] = {"stream": {
    "dict": {}, "data": base64.b64encode(drawing.encode()).decode()}}
# The source's own header: qpdf 11.3 leaves the file unchanged under one that differs.
json.dump({"qpdf": [dict(header, maxobjectid=header["maxobjectid"] + 2), update]}, sys.stdout)
PYTHON

# The other streams are written as they were; the image stays raw.
qpdf --stream-data=preserve --update-from-json="$work/update.json" "$source_pdf" "$work/out.pdf"
mv "$work/out.pdf" "$target"
echo "$target"
