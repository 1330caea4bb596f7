// Dictionary grammar and every accessor over whatever it entered.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "syntax/MemorySource.h"
#include "syntax/PDFDictionary.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    vellumtag::MemorySource source({data, size});
    vellumtag::MemoryParser parser(source);
    vellumtag::PDFDictionary dictionary;
    static_cast<void>(dictionary.parse(parser));
    std::vector<std::uint32_t> numbers;
    for (const auto &[key, value] : dictionary) {
        static_cast<void>(dictionary.getInt(key, -1));
        static_cast<void>(dictionary.getUInt(key));
        static_cast<void>(dictionary.getBytes(key));
        numbers.clear();
        dictionary.getUIntArray(key, numbers);
    }
    // The same bytes as the value of an object that is not a dictionary.
    parser.seek(0);
    vellumtag::PDFDictionary scratch;
    static_cast<void>(scratch.parseValue(parser, ""));
    return 0;
}
