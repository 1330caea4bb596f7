#include "metadata/PDFFactsReader.h"

#include "metadata/PDFInfoObject.h"
#include "metadata/PDFNameTree.h"
#include "syntax/CharacterClass.h"
#include "syntax/Limits.h"
#include "syntax/PDFNames.h"
#include "syntax/TextEncoding.h"
#include "syntax/Tokenizer.h"

namespace vellumtag {

namespace {

// A version "M.m" as two numbers, for comparing; nothing for any other text.
std::optional<std::pair<int, int>> versionNumbers(std::u16string_view text) {
    if (text.size() != 3 || !isDigit(text[0]) || text[1] != u'.' || !isDigit(text[2]))
        return std::nullopt;
    return std::pair(text[0] - u'0', text[2] - u'0');
}

// The catalog's /Lang, a text string (14.9.2.1) that is encrypted as every string of the
// catalog is, unless an object stream holding the catalog was decrypted whole.
std::optional<std::u16string> language(ObjectReader &objects, const PDFObject &catalog) {
    const PDFValue *lang = catalog._dictionary.find(names::kLang);
    if (lang == nullptr)
        return std::nullopt;
    PDFInfoObject holder;
    holder._values.set(std::string(names::kLang), *lang);
    const Decryptor *decryptor = objects.context().decryptor;
    if (!lang->isReference && decryptor != nullptr && !catalog._embedded &&
        decryptor->decryptStrings(holder._values, catalog._objectNumber, catalog._generation) !=
            PDFResult::Ok)
        return std::nullopt;
    holder.resolveReferences(objects);
    const PDFValue *value = holder._values.find(names::kLang);
    if (value == nullptr || !value->isString())
        return std::nullopt;
    std::u16string text = value->text;
    trimText(text);
    return text;
}

} // namespace

std::optional<std::string> PDFFactsReader::headerVersion(MemoryParser &parser,
                                                         std::uint64_t header) {
    Bytes bytes;
    parser.seek(header + names::kHeader.size());
    parser.readBytes(3, bytes);
    const std::u16string text(bytes.begin(), bytes.end());
    if (!versionNumbers(text))
        return std::nullopt;
    return std::string(bytes.begin(), bytes.end());
}

bool PDFFactsReader::linearized(MemoryParser &parser, std::uint64_t header) {
    // The header line and the comment of binary bytes after it are comments to the tokenizer;
    // the dictionary lies within the first 1024 bytes (F.2.2), so no more is looked at.
    parser.seek(header);
    Tokenizer tokens(parser, limits::kHeaderWindow);
    std::uint32_t number = 0, generation = 0;
    if (!tokens.skipBlanksWithin(limits::kHeaderWindow) ||
        !tokens.readObjectHeader(number, generation) ||
        tokens.peek() != Tokenizer::Kind::DictionaryStart)
        return false;
    PDFDictionary dictionary;
    if (dictionary.parse(parser) != PDFResult::Ok || !dictionary.contains(names::kLinearized))
        return false;
    return dictionary.getUInt64(names::kL) == parser.size() - header;
}

void PDFFactsReader::readCatalog(ObjectReader &objects, const PDFObject &catalog,
                                 DocumentFacts &facts) {
    const PDFDictionary &entries = catalog._dictionary;
    // /Version counts where it is later than the header's (7.7.2, table 28).
    if (const auto stated = objects.value(entries, names::kVersion);
        stated && stated->kind == PDFValue::Kind::Name) {
        const auto later = versionNumbers(stated->text);
        const auto header =
            facts.version
                ? versionNumbers(std::u16string(facts.version->begin(), facts.version->end()))
                : std::nullopt;
        if (later && (!header || *later > *header))
            facts.version = std::string(stated->text.begin(), stated->text.end());
    }
    const auto markInfo = objects.dictionary(entries, names::kMarkInfo);
    const auto marked = markInfo ? objects.value(*markInfo, names::kMarked) : std::nullopt;
    facts.tagged = marked && marked->text == u"true";
    facts.language = language(objects, catalog);
    // pdfinfo's rule: an /AcroForm dictionary is a form, an XFA one when its /XFA is a stream
    // or an array (12.7.8).
    if (const auto acroForm = objects.dictionary(entries, names::kAcroForm)) {
        const PDFValue *xfa = acroForm->find(names::kXfa);
        facts.form = xfa != nullptr && (xfa->isReference || xfa->kind == PDFValue::Kind::Array)
                         ? "XFA"
                         : "AcroForm";
    } else {
        facts.form =
            entries.contains(names::kAcroForm) ? std::nullopt : std::optional<std::string>("none");
    }
    const auto nameTrees = objects.dictionary(entries, names::kNames);
    if (const auto files =
            nameTrees ? objects.dictionary(*nameTrees, names::kEmbeddedFiles) : std::nullopt)
        facts.attachments = PDFNameTree::count(objects, *files);
    else if (!nameTrees || !nameTrees->contains(names::kEmbeddedFiles))
        facts.attachments = 0;
}

} // namespace vellumtag
