#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "syntax/ByteSource.h"
#include "syntax/PDFDictionary.h"
#include "syntax/PDFResult.h"

namespace vellumtag {

class ObjectReader;

// Reads the metadata of one PDF file: construct, load, take values(), destroy. Everything a
// load reads with lives only for that load, so the file is closed again when load returns;
// every value is a copy of file bytes and outlives the document.
class PDFDocument {
public:
    PDFDocument() = default;
    PDFDocument(const PDFDocument &) = delete;
    PDFDocument &operator=(const PDFDocument &) = delete;

    // Maps the file; when it cannot be mapped, reads it by chunks.
    PDFResult load(const std::filesystem::path &path);
    // Reads a document from memory that the caller owns and keeps unchanged during the call.
    PDFResult load(std::span<const std::uint8_t> bytes);
    // Reads a document from a source the caller opened. Bytes that cannot be had while it is
    // read (the file shrank under it, a read failed) end the load in 100.
    PDFResult load(ByteSource &source);
    PDFDictionary values() const { return _values; }

private:
    PDFResult collectMetadata(MemoryParser &parser, std::uint64_t xrefOffset);
    // Reads the catalog into _values (its XMP metadata); the number of its /Pages entry, or -1.
    std::int32_t readCatalog(ObjectReader &objects, std::uint32_t number);

    PDFDictionary _values;
};

} // namespace vellumtag
