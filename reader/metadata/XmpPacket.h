#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vellumtag {

// The eight properties of an XMP packet (ISO 32000-1, 14.3.2; XMP Specification Part 1, 7.9)
// that stand for keys of the information dictionary, read with an XML parser (pugixml).
// Properties are matched by namespace URI, whatever prefix binds it, as children of an
// rdf:Description or as its attributes; of several rdf:Description elements the first that
// gives a property a non-empty value wins. An rdf:Alt gives its x-default item or else its
// first, an rdf:Seq or rdf:Bag its items, each trimmed, joined by "; ". Entities and character
// references are text; no document type is read, so no entity is ever expanded.
class XmpPacket {
public:
    // (information dictionary key, text), in the order of the table of properties; nothing
    // when the packet is not well-formed XML or holds more markup than
    // limits::kMaxXmpTags, for the caller to read it otherwise.
    using Values = std::vector<std::pair<std::string_view, std::u16string>>;
    static std::optional<Values> read(std::span<const std::uint8_t> packet);

    // Every property of the packet, keyed as exiftool names its XMP tags: "XMP-<prefix>:<Name>",
    // the prefix the usual one of a known namespace (dc, xmp, xmpMM, pdfaid...) or else the one
    // the packet binds, the name with its first letter in capitals. A struct gives one entry
    // per field, its name after the property's (DerivedFromDocumentID), and a sequence of
    // structs the values of each field joined by "; " (HistoryAction); structs nested deeper
    // than limits::kMaxXmpStructDepth are left out. Values as read() gives them; of several
    // rdf:Description elements the first that gives a key wins. Nothing when read() gives
    // nothing for want of well-formed XML or for too much markup.
    using Properties = std::vector<std::pair<std::string, std::u16string>>;
    static std::optional<Properties> readAll(std::span<const std::uint8_t> packet);
};

} // namespace vellumtag
