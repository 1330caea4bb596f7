#pragma once

// The input files of the load benchmarks, written by the PdfBuilder of tests/support.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace vellumtag::bench {

// Title and page count that every generated document carries, for the checks before timing.
inline constexpr std::string_view kTitle = "Vellumtag benchmark document";

// How a document's objects and cross-reference data are stored.
enum class Form {
    ClassicTable,       // every object in the file, one cross-reference table
    ObjectStreams,      // the objects that are not streams in object streams of up to 100, as qpdf
                        // --object-streams=generate stores them, and a cross-reference stream
    OneObjectStream,    // the same with all of them in one object stream, the catalog, page tree
                        // root and information dictionary first
    Rc4ClassicTable,    // the classic table form, RC4-encrypted with a 128-bit key (revision 3)
    Aes128ClassicTable, // the same, AES-128-encrypted (revision 4)
    Aes256ClassicTable, // the same, AES-256-encrypted (revision 6)
};

// A document of the given form: catalog, page tree of `pages` pages in groups of ten,
// information dictionary, XMP packet and a font. Returns the object count of the classic form.
std::uint32_t writeDocument(const std::filesystem::path &path, std::uint32_t pages, Form form);

// A classic document of `pages` pages followed by `updates` incremental updates, each of which
// rewrites the information dictionary and `objectsPerUpdate` page contents. The catalog, the
// page tree root and the XMP packet are only in the first section, so reading them walks the
// whole /Prev chain.
void writeIncremental(const std::filesystem::path &path, std::uint32_t pages, std::uint32_t updates,
                      std::uint32_t objectsPerUpdate);

// A one-page document of about `bytes` bytes, almost all of them one stream: catalog and page
// tree before the stream, information dictionary, XMP packet and cross-reference table after.
void writeOneBigStream(const std::filesystem::path &path, std::uint64_t bytes);

} // namespace vellumtag::bench
