#include "vellumtag/vellumtag.h"

#include <cstdint>
#include <new>

#include "PDFDocument.h"
#include "syntax/TextEncoding.h"

namespace vellumtag {

namespace {

ReadResult failure(PDFResult code) {
    ReadResult result;
    result.code = static_cast<int>(code);
    result.message = validUtf8(resultMessage(code));
    return result;
}

// A PDF name's bytes may be anything; as UTF-8 they are read as the console tool's JSON reads
// them, what is not UTF-8 becoming U+FFFD.
std::string keyText(const std::string &key) {
    return validUtf8(
        decodeUtf8(std::span(reinterpret_cast<const std::uint8_t *>(key.data()), key.size())));
}

template <typename Source> ReadResult readFrom(const Source &source) noexcept {
    try {
        PDFDocument document;
        const PDFResult code = document.load(source);
        if (code != PDFResult::Ok)
            return failure(code);
        ReadResult result = failure(PDFResult::Ok);
        for (const auto &[key, value] : document.values())
            result.values.emplace_hint(result.values.end(), keyText(key), validUtf8(value.text));
        return result;
    } catch (const std::bad_alloc &) {
        // Short enough for the string's own buffer: building it allocates nothing.
        ReadResult result;
        result.code = static_cast<int>(PDFResult::Unspecified);
        result.message = "Out of memory";
        return result;
    } catch (...) {
        // The reader throws nothing else; should that change, it still never leaves here.
        return failure(PDFResult::Unspecified);
    }
}

} // namespace

ReadResult read(const std::filesystem::path &path) noexcept { return readFrom(path); }

ReadResult read(std::span<const std::byte> bytes) noexcept {
    return readFrom(std::span(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size()));
}

} // namespace vellumtag
