#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "objects/PDFObject.h"

namespace vellumtag {

class PDFXrefTable;

// Reads an object that carries document metadata into _values: the entries of a plain
// dictionary (the information dictionary, the page tree root), the texts of eight XMP elements
// of a metadata stream (ISO 32000-1, 14.3.2) under the information dictionary's key names, or
// the first dictionary found in other stream data. Entries that are indirect references are
// then replaced by the referenced object's text where it can be read.
class PDFInfoObject : public PDFObject {
public:
    explicit PDFInfoObject(PDFXrefTable *xref) : PDFObject(xref), _owner(xref) {}

    PDFResult read(MemoryParser &parser, std::uint64_t offset) override;
    PDFResult readEmbedded(const Bytes &objectStream, std::uint64_t offset,
                           std::uint32_t number) override;

    // The text of the first element of that name, exactly as written, with the nested start
    // and end tags around it skipped; empty when the element is missing or has no text.
    static std::u16string extractNodeText(std::u16string_view packet, std::u16string_view nodeName);
    // The same for the occurrence of "<" and the name at index tag (npos: none).
    static std::u16string extractNodeTextAt(std::u16string_view packet,
                                            std::u16string_view nodeName, std::size_t tag);
    void applyXmpNode(std::u16string_view packet, std::u16string_view nodeName,
                      const std::string &infoKey);
    // UTF-8 to UTF-16; any malformed sequence makes the whole result empty.
    static std::u16string decodeUtf8(std::span<const std::uint8_t> bytes);
    void resolveReferences();

    PDFDictionary _values;
    PDFXrefTable *_owner;

private:
    // Fills _values from what the read left in _dictionary and _data.
    PDFResult extract();
    // Enters the text of an XMP element under the key unless it is empty or "()".
    void applyXmpText(std::u16string text, const std::string &infoKey);
};

} // namespace vellumtag
