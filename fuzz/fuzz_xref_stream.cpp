// A cross-reference section at offset 0 (a stream when the input starts with a digit), then
// lookups and reads of the objects it lists, object streams included.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "metadata/PDFInfoObject.h"
#include "xref/PDFXrefTable.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    vellumtag::MemoryParser parser;
    parser.attach(data, size);
    if (!parser.isOpen())
        return 0;
    vellumtag::PDFXrefTable xref;
    xref._file = &parser;
    static_cast<void>(xref.readSection(0));
    std::vector<std::uint32_t> numbers;
    for (const auto &entry : xref._offsets.list()) {
        if (numbers.size() == 16)
            break;
        numbers.push_back(entry.first);
    }
    for (const std::uint32_t number : numbers) {
        vellumtag::PDFInfoObject object(&xref);
        static_cast<void>(xref.findObjectOffset(number));
        static_cast<void>(xref.readObject(number, object));
    }
    return 0;
}
