#include "metadata/DocumentFacts.h"

#include <charconv>
#include <iterator>

#include "metadata/MetadataDate.h"
#include "security/PDFEncryptionDictionary.h"
#include "syntax/PDFNames.h"

namespace vellumtag {

namespace {

std::u16string ascii(std::string_view text) { return std::u16string(text.begin(), text.end()); }

std::u16string yesNo(bool value) { return value ? u"yes" : u"no"; }

// The text of an XMP property, when the packet has it.
const std::u16string *xmpValue(const std::vector<std::pair<std::string, std::u16string>> &xmp,
                               std::string_view key) {
    for (const auto &[name, text] : xmp) {
        if (name == key)
            return &text;
    }
    return nullptr;
}

// ASCII text as bytes; nothing when it holds anything else.
std::optional<std::string> narrow(std::u16string_view text) {
    std::string out;
    for (const char16_t c : text) {
        if (c >= 0x80)
            return std::nullopt;
        out.push_back(static_cast<char>(c));
    }
    return out;
}

} // namespace

const std::vector<std::string_view> &DocumentFacts::keys() {
    static const std::vector<std::string_view> kKeys = {
        "PDF:Version",     "PDF:Encryption", "PDF:Linearized", "PDF:Tagged",
        "PDF:Language",    "PDF:PageSize",   "PDF:Form",       "PDF:Attachments",
        "PDF:Conformance", "PDF:CreateDate", "PDF:ModifyDate",
    };
    return kKeys;
}

DocumentFacts::Entries DocumentFacts::entries(const PDFDictionary &values) const {
    Entries out;
    const auto &key = keys();
    if (version)
        out.emplace_back(key[0], ascii(*version));
    if (!encrypted)
        out.emplace_back(key[1], u"none");
    else if (encryption)
        out.emplace_back(key[1], ascii(encryption->algorithm));
    if (linearized)
        out.emplace_back(key[2], yesNo(*linearized));
    if (tagged)
        out.emplace_back(key[3], yesNo(*tagged));
    if (language && !language->empty())
        out.emplace_back(key[4], *language);
    if (pageSize)
        out.emplace_back(key[5],
                         ascii(pointsText((*pageSize)[0]) + " x " + pointsText((*pageSize)[1])));
    if (form)
        out.emplace_back(key[6], ascii(*form));
    if (attachments)
        out.emplace_back(key[7], ascii(std::to_string(*attachments)));
    if (!conformance.empty()) {
        std::string joined;
        for (const std::string &claim : conformance)
            joined.append(joined.empty() ? "" : ", ").append(claim);
        out.emplace_back(key[8], ascii(joined));
    }
    const std::pair<std::string_view, std::string_view> dates[] = {{names::kCreationDate, key[9]},
                                                                   {names::kModDate, key[10]}};
    for (const auto &[source, target] : dates) {
        if (const PDFValue *value = values.find(source)) {
            if (const auto iso = isoDate(value->text))
                out.emplace_back(target, ascii(*iso));
        }
    }
    return out;
}

std::optional<DocumentFacts::Encryption>
DocumentFacts::describe(const PDFEncryptionDictionary &security) {
    using Method = PDFEncryptionDictionary::Method;
    // Crypt filters may differ for streams and strings (ISO 32000-1, 7.6.5); the streams',
    // which hold the content, name the file's algorithm, as pdfinfo takes it.
    const Method method = security._streams != Method::None ? security._streams : security._strings;
    Encryption encryption;
    encryption.revision = security._r;
    encryption.keyBits = static_cast<int>(security._keyLength * 8);
    switch (method) {
    case Method::RC4:
        encryption.algorithm = "RC4 " + std::to_string(encryption.keyBits) + "-bit";
        break;
    case Method::AES128:
        encryption.algorithm = "AES-128";
        encryption.keyBits = 128;
        break;
    case Method::AES256:
        encryption.algorithm = "AES-256";
        encryption.keyBits = 256;
        break;
    default:
        return std::nullopt;
    }
    return encryption;
}

std::vector<std::string>
DocumentFacts::conformanceOf(const std::vector<std::pair<std::string, std::u16string>> &xmp) {
    std::vector<std::string> claims;
    // PDF/A (ISO 19005): part and conformance level, the level in small letters as written
    // in the standard's names (PDF/A-2b).
    if (const auto *part = xmpValue(xmp, "XMP-pdfaid:Part")) {
        if (auto text = narrow(*part)) {
            std::string claim = "PDF/A-" + *text;
            if (const auto *level = xmpValue(xmp, "XMP-pdfaid:Conformance")) {
                for (const char c : narrow(*level).value_or(""))
                    claim.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
            }
            claims.push_back(std::move(claim));
        }
    }
    // PDF/UA (ISO 14289) has a part only; PDF/X (ISO 15930) states its full name.
    if (const auto *part = xmpValue(xmp, "XMP-pdfuaid:Part")) {
        if (auto text = narrow(*part))
            claims.push_back("PDF/UA-" + *text);
    }
    if (const auto *version = xmpValue(xmp, "XMP-pdfxid:GTS_PDFXVersion")) {
        if (auto text = narrow(*version))
            claims.push_back(std::move(*text));
    }
    return claims;
}

std::string DocumentFacts::pointsText(double points) {
    // As printf's %g (six significant digits, no trailing zeros), without its cost.
    char text[32];
    const auto written =
        std::to_chars(std::begin(text), std::end(text), points, std::chars_format::general, 6);
    return std::string(text, written.ec == std::errc() ? written.ptr : text);
}

std::optional<std::string> DocumentFacts::isoDate(std::u16string_view text) {
    const auto fields = ParseMetadataDate(text);
    if (!fields)
        return std::nullopt;
    return FormatIsoDate(*fields);
}

} // namespace vellumtag
