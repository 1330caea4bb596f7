#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "objects/ObjectReader.h"

namespace vellumtag {

// The page count as a document's page tree states it (ISO 32000-1, 7.7.3): the root's /Count
// when it is a non-negative integer, read through a reference where it is one; otherwise the
// leaves, counted by a walk of /Kids that visits each node once and gives up beyond
// limits::kMaxPageTreeNodes nodes. As viewers do, a dictionary without /Kids counts as a page
// unless its /Type is /Pages, and what is not a dictionary counts as nothing.
class PDFPageTree {
public:
    // The count as text, or nothing when it cannot be had; rootReadable tells whether the
    // root could be read at all, and rootEntries, when given, receives its entries as read.
    static std::optional<std::u16string> count(ObjectReader &objects, std::uint32_t root,
                                               bool &rootReadable,
                                               PDFDictionary *rootEntries = nullptr);
    // The same for a root written in place, whose entries are given.
    static std::optional<std::u16string> count(ObjectReader &objects, const PDFDictionary &root);
    // The size of the first page as pdfinfo gives it (width, height in points): its /CropBox
    // clipped to its /MediaBox, or the media box, both inherited from the nodes above
    // (ISO 32000-1, 7.7.3.4), and turned by /Rotate 90 or 270. The walk down the first kids
    // visits each node once and at most limits::kMaxPageTreeNodes; nothing without a usable
    // media box.
    static std::optional<std::array<double, 2>> firstPageSize(ObjectReader &objects,
                                                              PDFDictionary root);
    // The numbers of an array written in the bytes, in order, up to anything else.
    static std::vector<double> numbers(std::span<const std::uint8_t> array);
    // The object numbers of the references in the text of an array, in order.
    static std::vector<std::uint32_t> references(std::u16string_view text);

private:
    // The root's /Count when it is a non-negative integer, else the leaves counted.
    static std::optional<std::u16string> fromRoot(ObjectReader &objects,
                                                  const PDFDictionary &values,
                                                  const PDFDictionary &dictionary,
                                                  std::optional<std::uint32_t> number);
    static std::optional<std::uint64_t> countLeaves(ObjectReader &objects,
                                                    const PDFDictionary &root,
                                                    std::optional<std::uint32_t> number);
};

} // namespace vellumtag
