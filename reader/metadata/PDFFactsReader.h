#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "metadata/DocumentFacts.h"
#include "objects/ObjectReader.h"
#include "objects/PDFObject.h"
#include "syntax/MemoryParser.h"

namespace vellumtag {

// Reads the document facts that the file's structure states: the version of its header, its
// linearization dictionary, and the catalog's entries with what they lead to (the name tree of
// embedded files). The page size is the page tree's (PDFPageTree::firstPageSize). What cannot be
// read is left missing.
class PDFFactsReader {
public:
    // The version of a header at the offset, "%PDF-1.7" giving "1.7" (ISO 32000-1, 7.5.2).
    static std::optional<std::string> headerVersion(MemoryParser &parser, std::uint64_t header);
    // True when the first object after the header is a linearization dictionary (Annex F.2.2)
    // whose /L is the file's length, as it is until an incremental update, after which
    // viewers no longer take the file for linearized.
    static bool linearized(MemoryParser &parser, std::uint64_t header);
    // The catalog's facts (7.7.2): a /Version later than the header's (kept in facts.version),
    // /MarkInfo, /Lang, /AcroForm and its /XFA, and the /EmbeddedFiles name tree of /Names.
    static void readCatalog(ObjectReader &objects, const PDFObject &catalog, DocumentFacts &facts);
};

} // namespace vellumtag
