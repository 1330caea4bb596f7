#pragma once

#include <cstdint>
#include <vector>

#include "syntax/MemoryParser.h"
#include "syntax/PDFDictionary.h"
#include "xref/ObjectIndex.h"

namespace vellumtag {

// Rebuilds the object index of a file whose cross-reference data are missing or lead nowhere,
// by one pass over its bytes, as mature readers do. Every object header ("N G obj", ISO 32000-1,
// 7.3.10) is entered, the later of two with the same number winning; stream data are stepped
// over where "endstream" confirms their /Length (7.3.8.1); every trailer dictionary (7.5.5) and
// cross-reference stream dictionary (7.5.8.2) gives /Root, /Info, /Encrypt and /ID, each taken
// from the last that has it. Each keyword is searched for once over the bytes, each dictionary
// is parsed no further than the next object header, and the scan stops after
// limits::kMaxRecoveredObjects headers.
class XrefRecovery {
public:
    struct Result {
        std::vector<ObjectIndex::Item> objects; // by ascending number
        // The numbers of the objects entered whose /Type is /ObjStm, and /Catalog, in the order
        // they lie in the file.
        std::vector<std::uint32_t> objectStreams;
        std::vector<std::uint32_t> catalogs;
        PDFDictionary trailer;
        bool complete = true; // false: the scan stopped at the header limit
        // An object was found that is a Standard security handler's encryption dictionary
        // (ISO 32000-1, 7.6.3.2): the file is encrypted, whether a trailer says so or not.
        bool encryptionFound = false;
    };

    // Scans the data from the offset on; the parser's cursor is left anywhere.
    static Result scan(MemoryParser &parser, std::uint64_t from);

private:
    // An object header: the offset of its object number, the offset after "obj", the number.
    struct Header {
        std::uint64_t start;
        std::uint64_t end;
        std::uint32_t number;
    };

    explicit XrefRecovery(MemoryParser &parser) : _parser(parser), _size(parser.size()) {}
    // The first header at or after the offset; one that starts at _size when there is none.
    Header nextHeader(std::uint64_t from);
    // Whether the "obj" at the offset ends an object header, which it then describes.
    bool headerAt(std::uint64_t obj, Header &header);
    // Reads what follows a header, up to the next header at most, and returns where the scan
    // goes on: past the object's stream data when their end is certain, else past the header.
    std::uint64_t examine(const Header &header, std::uint64_t bound);
    // Parses the dictionary at the cursor without reading at or beyond bound.
    void parseBefore(std::uint64_t bound, PDFDictionary &dictionary);
    void takeTrailer(const PDFDictionary &dictionary);
    Result finish(std::vector<ObjectIndex::Item> headers);

    MemoryParser &_parser;
    std::uint64_t _size;
    Result _result;
    // (number, offset) of every header whose object is an object stream, or a catalog.
    std::vector<ObjectIndex::Item> _objectStreams;
    std::vector<ObjectIndex::Item> _catalogs;
};

} // namespace vellumtag
