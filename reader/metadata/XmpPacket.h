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
};

} // namespace vellumtag
