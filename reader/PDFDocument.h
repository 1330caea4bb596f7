#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "syntax/MemoryFile.h"
#include "syntax/PDFDictionary.h"
#include "metadata/PDFInfoObject.h"
#include "syntax/PDFResult.h"
#include "xref/PDFXrefTable.h"

namespace vellumtag {

// Reads the metadata of one PDF file: construct, load once, take values(), destroy. Every
// value is a copy of file bytes, so the dictionary outlives the document and its mapping.
class PDFDocument {
public:
    PDFDocument() = default;
    PDFDocument(const PDFDocument &) = delete;
    PDFDocument &operator=(const PDFDocument &) = delete;

    PDFResult load(const std::filesystem::path &path);
    // Reads a document from memory that the caller owns and keeps unchanged during the call.
    PDFResult load(std::span<const std::uint8_t> bytes);
    PDFDictionary values() const { return _values; }

private:
    PDFResult loadOpened();
    PDFResult collectMetadata(std::uint64_t xrefOffset);
    PDFResult readCatalog(std::uint32_t number);
    // Reads the object as metadata; false when it is unknown or unreadable.
    bool readInfoObject(std::int64_t number, PDFInfoObject &object);

    PDFDictionary _values;
    PDFXrefTable _xref;
    std::int32_t _pagesObject = -1;
    MemoryFile _file;
};

} // namespace vellumtag
