#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "objects/ObjectReader.h"
#include "syntax/PDFDictionary.h"

namespace vellumtag {

// A name tree (ISO 32000-1, 7.9.6), such as the catalog's /EmbeddedFiles: its leaves are the
// keys of the /Names arrays of its nodes, which /Kids lead to. The walk visits each node once
// and, as the page tree's, gives up beyond limits::kMaxPageTreeNodes nodes.
class PDFNameTree {
public:
    // The number of leaves under the root; nothing when the walk gives up.
    static std::optional<std::uint64_t> count(ObjectReader &objects, const PDFDictionary &root);
    // The keys of a /Names array written in the bytes: the strings at its top level.
    static std::uint64_t keysIn(std::span<const std::uint8_t> array);
};

} // namespace vellumtag
