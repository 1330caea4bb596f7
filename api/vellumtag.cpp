#include "vellumtag/vellumtag.h"

#include <cstdint>
#include <new>

#include "PDFDocument.h"
#include "metadata/PropertyTable.h"
#include "syntax/PDFNames.h"
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

// The reader's facts in the interface's types, dates and page count taken from the values.
DocumentDetails detailsOf(const DocumentFacts &facts, const PDFDictionary &values) {
    DocumentDetails details;
    details.version = facts.version;
    details.encrypted = facts.encrypted;
    if (facts.encryption)
        details.encryption = DocumentDetails::Encryption{
            facts.encryption->algorithm, facts.encryption->revision, facts.encryption->keyBits};
    details.linearized = facts.linearized;
    details.tagged = facts.tagged;
    if (facts.language && !facts.language->empty())
        details.language = validUtf8(*facts.language);
    details.pageSize = facts.pageSize;
    details.form = facts.form;
    details.attachments = facts.attachments;
    details.conformance = facts.conformance;
    if (const PDFValue *date = values.find(names::kCreationDate))
        details.created = DocumentFacts::isoDate(date->text);
    if (const PDFValue *date = values.find(names::kModDate))
        details.modified = DocumentFacts::isoDate(date->text);
    if (const PDFValue *pages = values.find(names::kPageCount))
        details.pageCount = ParseCount(pages->text);
    for (const auto &[key, text] : facts.entries(values))
        details.entries.emplace_back(key, validUtf8(text));
    return details;
}

template <typename Source>
ReadResult readFrom(const Source &source, const ReadOptions &options) noexcept {
    try {
        PDFDocument document;
        document.setDetails(options.details);
        document.setXmp(options.xmp);
        const PDFResult code = document.load(source);
        if (code != PDFResult::Ok)
            return failure(code);
        ReadResult result = failure(PDFResult::Ok);
        const PDFDictionary values = document.values();
        for (const auto &[key, value] : values)
            result.values.emplace_hint(result.values.end(), keyText(key), validUtf8(value.text));
        if (options.details)
            result.document = detailsOf(document.facts(), values);
        for (const auto &[key, text] : document.xmp())
            result.xmp.emplace_back(key, validUtf8(text));
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

ReadResult read(const std::filesystem::path &path) noexcept { return read(path, ReadOptions{}); }

ReadResult read(const std::filesystem::path &path, const ReadOptions &options) noexcept {
    return readFrom(path, options);
}

ReadResult read(std::span<const std::byte> bytes) noexcept { return read(bytes, ReadOptions{}); }

ReadResult read(std::span<const std::byte> bytes, const ReadOptions &options) noexcept {
    return readFrom(std::span(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size()),
                    options);
}

} // namespace vellumtag
