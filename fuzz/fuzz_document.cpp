// Whole-document load: every input must end in a result code, and reading it in memory and
// through windows of a few bytes must give the same result, the same values and the same
// recovery. A strict load of it must end in a result code too, and so must one that also
// reads the document facts and the whole XMP packet, with the same values.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "PDFDocument.h"
#include "TestSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    vellumtag::PDFDocument whole;
    const vellumtag::PDFResult result = whole.load(std::span<const std::uint8_t>(data, size));
    vellumtag::test::PiecewiseSource pieces(
        std::string_view(reinterpret_cast<const char *>(data), size), 5);
    vellumtag::PDFDocument windowed;
    if (windowed.load(pieces) != result || windowed.values() != whole.values() ||
        windowed.recovered() != whole.recovered())
        __builtin_trap();
    vellumtag::PDFDocument detailed;
    detailed.setDetails(true);
    detailed.setXmp(true);
    if (detailed.load(std::span<const std::uint8_t>(data, size)) != result ||
        detailed.values() != whole.values())
        __builtin_trap();
    vellumtag::PDFDocument strict;
    strict.setStrict(true);
    static_cast<void>(strict.load(std::span<const std::uint8_t>(data, size)));
    return 0;
}
