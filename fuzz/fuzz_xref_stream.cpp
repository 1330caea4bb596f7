// A cross-reference section at offset 0 (a stream when the input starts with a digit), then
// lookups and reads of the objects it lists, object streams included.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "metadata/PDFInfoObject.h"
#include "objects/ObjectReader.h"
#include "objects/PlainStreamReader.h"
#include "syntax/MemorySource.h"
#include "xref/PDFXrefTable.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace vellumtag;
    MemorySource source({data, size});
    MemoryParser parser(source);
    if (!parser.isOpen())
        return 0;
    StreamBudget budget;
    PlainStreamReader streams(budget);
    PDFXrefTable xref(parser, streams);
    static_cast<void>(xref.readSection(0));
    std::vector<std::uint32_t> numbers;
    for (const auto &entry : xref.entries().list()) {
        if (numbers.size() == 16)
            break;
        numbers.push_back(entry.first);
    }
    ObjectReader objects({parser, &xref, nullptr, &budget});
    for (const std::uint32_t number : numbers) {
        PDFInfoObject object;
        static_cast<void>(xref.findObjectOffset(number));
        static_cast<void>(object.read(objects, number));
    }
    return 0;
}
