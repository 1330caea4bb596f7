#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "objects/ObjectReader.h"
#include "objects/PDFObject.h"
#include "syntax/PDFDictionary.h"

namespace vellumtag {

// Reads an object that carries document metadata into _values: the entries of a plain
// dictionary (the information dictionary, the page tree root), the texts of eight XMP elements
// of a metadata stream (ISO 32000-1, 14.3.2) under the information dictionary's key names, or
// the first dictionary found in other stream data. Entries that are indirect references are
// then replaced by the referenced object's text where it can be read.
class PDFInfoObject : public PDFObject {
public:
    // Reads object `number` through objects, whose decryptor also decrypts the strings of a
    // plain dictionary.
    PDFResult read(ObjectReader &objects, std::uint32_t number);

    // The text of the first element of that name, exactly as written, with the nested start
    // and end tags around it skipped; empty when the element is missing or has no text.
    static std::u16string extractNodeText(std::u16string_view packet, std::u16string_view nodeName);
    // The same for the occurrence of "<" and the name at index tag (npos: none).
    static std::u16string extractNodeTextAt(std::u16string_view packet,
                                            std::u16string_view nodeName, std::size_t tag);
    // The eight elements of a packet that is not read as XML, found by that text search, each
    // under the key XmpPacket::readAll gives it ("XMP-dc:Title"); none empty or "()".
    static std::vector<std::pair<std::string, std::u16string>>
    searchedXmp(std::span<const std::uint8_t> packet);
    void resolveReferences(ObjectReader &objects);

    PDFDictionary _values;

private:
    // Fills _values from what the read left in _dictionary and _data.
    PDFResult extract(ObjectReader &objects);
    // Enters the text of an XMP element under the key unless it is empty or "()".
    void applyXmpText(std::u16string text, std::string_view infoKey);
};

} // namespace vellumtag
