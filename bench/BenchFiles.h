#pragma once

// The input files of the load benchmarks, written into a temporary folder by small generators
// and, for the cross-reference stream and RC4 cases, by qpdf from the generated classic file.

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace vellumtag::bench {

// Title and page count that every generated document carries, for the checks before timing.
inline constexpr std::string_view kTitle = "Vellumtag benchmark document";

// Writes a PDF object by object, with classic cross-reference sections. Output goes to a file
// through a buffer; hole() leaves a run of zero bytes that costs no disk space.
class PdfWriter {
public:
    explicit PdfWriter(const std::filesystem::path &path);
    ~PdfWriter();
    PdfWriter(const PdfWriter &) = delete;
    PdfWriter &operator=(const PdfWriter &) = delete;

    void header();
    // "N 0 obj", body, "endobj"; the object goes into the next cross-reference section.
    void object(std::uint32_t number, std::string_view body);
    void stream(std::uint32_t number, std::string_view dictionaryEntries, std::string_view data);
    // A stream of length zero bytes, left as a hole in the file.
    void holeStream(std::uint32_t number, std::uint64_t length);
    // A section listing the objects written since the last one, then the trailer with the given
    // entries, /Size and /Prev (when prev is not negative), and startxref. Returns the
    // section's offset.
    std::uint64_t xrefSection(std::string_view trailerEntries, std::int64_t prev);
    // Flushes and closes the file; false on any write error.
    bool finish();

private:
    void write(std::string_view text);
    void flush();

    int _fd = -1;
    bool _failed = false;
    std::string _buffer;
    std::uint64_t _position = 0;
    std::uint32_t _size = 1;
    std::map<std::uint32_t, std::uint64_t> _pending;
};

// A document with a classic cross-reference table: catalog, page tree of `pages` pages in
// groups of ten, information dictionary, XMP packet and a font. Returns its object count.
std::uint32_t writeClassic(const std::filesystem::path &path, std::uint32_t pages);

// A classic document of `pages` pages followed by `updates` incremental updates, each of which
// rewrites the information dictionary and `objectsPerUpdate` page contents. The catalog, the
// page tree root and the XMP packet are only in the first section, so reading them walks the
// whole /Prev chain.
void writeIncremental(const std::filesystem::path &path, std::uint32_t pages, std::uint32_t updates,
                      std::uint32_t objectsPerUpdate);

// A one-page document of about `bytes` bytes, almost all of them one stream: catalog and page
// tree before the stream, information dictionary, XMP packet and cross-reference table after.
void writeOneBigStream(const std::filesystem::path &path, std::uint64_t bytes);

// Runs qpdf with the arguments, then input and output; false when qpdf is missing, fails, or
// leaves no output. Exit status 3 (warnings) counts as success.
bool runQpdf(std::string_view arguments, const std::filesystem::path &input,
             const std::filesystem::path &output);

} // namespace vellumtag::bench
