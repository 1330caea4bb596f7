// Whole-document load from memory: every input must end in a result code.
#include <cstddef>
#include <cstdint>

#include "PDFDocument.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    vellumtag::PDFDocument document;
    if (document.load(std::span<const std::uint8_t>(data, size)) == vellumtag::PDFResult::Ok) {
        const auto values = document.values();
        static_cast<void>(values.size());
    }
    return 0;
}
