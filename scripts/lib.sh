# Shared by the scripts: package installation and the build of one preset.
# shellcheck shell=bash

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
JOBS=${JOBS:-2}

# Packages every build needs: nettle is the cryptography of the Linux builds, pugixml reads
# XMP.
BUILD_PACKAGES=(cmake ninja-build g++ libgtest-dev zlib1g-dev nettle-dev libpugixml-dev nlohmann-json3-dev)

# The Python package and the library's install test (scripts/test): pybind11 and Python's headers
# for the module, pytest, Dask's scheduler and workers for the indexer, pkg-config for a consumer
# of the installed library, qpdf for the thread test's files, strace to count the files that an
# unchanged rerun of the index database opens.
PYTHON_PACKAGES=(pybind11-dev python3-dev python3-pytest python3-dask python3-distributed pkgconf
    qpdf strace)

# The windows and windows-x86 presets: the mingw-w64 cross compilers and their zlib (one
# package for both), googletest's sources (built with those compilers), Wine to run the tests
# (wine32 for the 32-bit programs, from the i386 architecture that ensure_i386 adds), zip for
# scripts/package-windows. Wine's bcrypt.dll does AES through GnuTLS, which it loads when asked:
# libgnutls30 must be there for each bitness.
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 libz-mingw-w64-dev googletest wine64
    wine32:i386 libgnutls30 libgnutls30:i386 zip wixl)

# The real-world conformance test: qpdf as the independent reader (and the maker of the
# rewritten and encrypted variants), pdfinfo as a second opinion, pdftk (Java) as a second
# encrypting tool, Python for the harness. The damaged-files test also rewrites files with
# Ghostscript's pdfwrite. The text-fidelity test makes files with ReportLab, Ghostscript and
# exiftool, and reads them with pdfinfo and exiftool.
CONFORMANCE_PACKAGES=(qpdf poppler-utils python3 pdftk-java ghostscript python3-reportlab
    libimage-exiftool-perl)

# Documentation packages whose PDFs, made by real tools, are that test's corpus: 441 distinct
# files, about 175 MB to download with the texlive base they pull in, about 35 s to install.
# Producers include pdfTeX, LuaTeX, XeTeX/xdvipdfmx, dvipdfm(x), Ghostscript, Acrobat
# Distiller, Apache FOP, cairo, ReportLab and mbt PDF. The first three packages alone give
# 376 files. xorg-docs, yorick-doc and mpich-doc ship theirs as .pdf.gz. Counts are of
# distinct files (some are shipped twice, under a symbolic link).
CORPUS_PACKAGES=(
    texlive-humanities-doc        # 142 PDFs, 26 MB download
    texlive-latex-recommended-doc # 155, 48 MB
    texlive-metapost-doc          # 79, 34 MB
    texlive-fonts-recommended-doc # 11, 3 MB
    fonts-texgyre                 # 14, 8 MB
    r-doc-pdf                     # 9, 9 MB
    xorg-docs                     # 16, 1 MB
    lyx-common                    # 10, 10 MB
    yorick-doc                    # 2, 1 MB
    mpich-doc                     # 2, 1 MB
    python-reportlab-doc          # 1, 1 MB
)

# The benchmarks: Google Benchmark for bench/ (scripts/test installs it too, so that CI builds
# them), and for scripts/bench the tools it compares with and Python for its harness.
BENCH_PACKAGES=(libbenchmark-dev qpdf poppler-utils mupdf-tools libimage-exiftool-perl python3)

# Installs the Debian packages of the list that are not installed yet, through sudo when not
# root. Nothing is installed when everything is present.
ensure_packages() {
    local missing=() package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing missing Debian packages: ${missing[*]}" >&2
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq >&2
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        --no-install-recommends "${missing[@]}" >&2
}

# Adds the i386 architecture to dpkg, for wine32 (the Windows stage only); ensure_packages then
# updates the package lists, since wine32 is missing.
ensure_i386() {
    dpkg --print-foreign-architectures | grep -qx i386 && return 0
    echo "Adding the i386 architecture, for wine32" >&2
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" dpkg --add-architecture i386
}

# Prints the machine's own deb entries for its release as deb-src entries: their URIs, suites,
# components and keyring, so that sources come from the same mirror or proxy as packages do.
# With FORMAT "deb822", the stanzas of /etc/apt/sources.list.d/*.sources; with "one-line", the
# lines of /etc/apt/sources.list and sources.list.d/*.list. An entry counts when one of its
# suites is the release's codename or one of its updates (bookworm, bookworm-updates, ...).
deb_src_entries() {
    local format=$1 codename
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    if [ "$format" = deb822 ]; then
        cat /etc/apt/sources.list.d/*.sources 2>/dev/null | awk -v release="$codename" '
            BEGIN { RS = ""; FS = "\n" }
            {
                binary = 0; suite = 0; enabled = 1; out = ""
                for (i = 1; i <= NF; i++) {
                    line = $i
                    if (line ~ /^#/) continue
                    if (line ~ /^Types:/) { binary = (" " line " ") ~ /[ \t]deb[ \t]/; line = "Types: deb-src" }
                    if (line ~ /^Enabled:[ \t]*no/) enabled = 0
                    if (line ~ /^Suites:/) {
                        n = split(substr(line, 8), words, /[ \t]+/)
                        for (w = 1; w <= n; w++) if (words[w] == release || index(words[w], release "-") == 1) suite = 1
                    }
                    out = out line "\n"
                }
                if (binary && suite && enabled) printf "%s\n", out
            }'
    else
        cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null | awk -v release="$codename" '
            $1 == "deb" {
                # The suite follows the URI, which follows the options in brackets, if any.
                field = 2
                if ($2 ~ /^\[/) { while (field <= NF && $field !~ /\]$/) field++; field++ }
                suite = $(field + 1)
                if (suite == release || index(suite, release "-") == 1) { sub(/^deb/, "deb-src"); print }
            }'
    fi
}

# pugixml's sources for the Windows build: the version that Debian packages for Linux, from
# Debian's source package, unpacked into build/deb-src/pugixml (the windows preset's
# VELLUMTAG_PUGIXML_SOURCE). apt-get source needs a deb-src entry, which is added once for the
# release that the machine runs, from the machine's own deb entries (deb_src_entries).
fetch_pugixml_source() {
    local target="$ROOT/build/deb-src/pugixml"
    [ -f "$target/src/pugixml.cpp" ] && return 0
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    if [ -z "$(apt-cache showsrc pugixml 2>/dev/null)" ]; then
        local format file entries added=0
        for format in deb822 one-line; do
            file=/etc/apt/sources.list.d/vellumtag-deb-src.sources
            [ "$format" = one-line ] && file=/etc/apt/sources.list.d/vellumtag-deb-src.list
            entries=$(deb_src_entries "$format")
            [ -n "$entries" ] || continue
            echo "Adding deb-src entries to $file, from the machine's deb entries, for pugixml's sources" >&2
            printf '%s\n' "$entries" | "${sudo[@]}" tee "$file" >/dev/null
            added=1
        done
        if [ $added -eq 0 ]; then
            echo "No deb entry of this release in /etc/apt to take a deb-src entry from" >&2
            return 1
        fi
        "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq >&2
    fi
    local download="$ROOT/build/deb-src/download"
    rm -rf "$download" "$target"
    mkdir -p "$download"
    # The source of the version apt would install as libpugixml-dev.
    local version
    version=$(apt-cache policy libpugixml-dev | sed -n 's/^ *Candidate: //p')
    (cd "$download" && apt-get source --download-only -qq "pugixml=$version") >&2
    mkdir -p "$target"
    tar -xzf "$download"/pugixml_*.orig.tar.gz -C "$target" --strip-components=1
    [ -f "$target/src/pugixml.cpp" ]
}

# Configures (first time only) and builds a preset; extra arguments go to the configure step.
build_preset() {
    local preset=$1
    shift
    if [ ! -f "$ROOT/build/$preset/CMakeCache.txt" ] || [ $# -gt 0 ]; then
        (cd "$ROOT" && cmake --preset "$preset" "$@") >&2
    fi
    cmake --build "$ROOT/build/$preset" -j "$JOBS" >&2
}

# Configures a preset (first time only) and builds one target of it.
build_target() {
    local preset=$1 target=$2
    if [ ! -f "$ROOT/build/$preset/CMakeCache.txt" ]; then
        (cd "$ROOT" && cmake --preset "$preset") >&2
    fi
    cmake --build "$ROOT/build/$preset" --target "$target" -j "$JOBS" >&2
}
