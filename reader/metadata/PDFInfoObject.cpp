#include "metadata/PDFInfoObject.h"

#include <array>
#include <cassert>

#include "xref/PDFXrefTable.h"

namespace vellumtag {

namespace {

struct XmpKey {
    std::u16string_view element;
    const char *infoKey;
};

// Applied in this order; the information dictionary's own entries win over all of them.
constexpr XmpKey kXmpKeys[] = {
    {u"dc:title", "Title"},
    {u"dc:creator", "Author"},
    {u"dc:description", "Subject"},
    {u"pdf:Keywords", "Keywords"},
    {u"pdf:Producer", "Producer"},
    {u"xmp:CreatorTool", "Creator"},
    {u"xmp:CreateDate", "CreationDate"},
    {u"xmp:ModifyDate", "ModDate"},
};

bool isXmlBlank(char16_t c) { return c == u'\t' || c == u'\n' || c == u'\r' || c == u' '; }

} // namespace

PDFResult PDFInfoObject::read(MemoryParser &parser, std::uint64_t offset) {
    const PDFResult result = PDFObject::read(parser, offset);
    return result == PDFResult::Ok ? extract() : result;
}

PDFResult PDFInfoObject::readEmbedded(const Bytes &objectStream, std::uint64_t offset,
                                      std::uint32_t number) {
    const PDFResult result = PDFObject::readEmbedded(objectStream, offset, number);
    return result == PDFResult::Ok ? extract() : result;
}

PDFResult PDFInfoObject::extract() {
    if (_data.empty()) {
        const PDFEncryptionDictionary *security =
            _owner != nullptr ? _owner->_security.get() : nullptr;
        if (security != nullptr && security->_encryptMetadata && !_embedded) {
            if (!security->_ready)
                return PDFResult::EncryptionUnsupported;
            static_cast<void>(security->decryptStrings(_dictionary, _objectNumber, _generation));
        }
        _values.merge(_dictionary);
    } else if (_dictionary.getString("Type", u"") == u"Metadata" &&
               _dictionary.getString("Subtype", u"") == u"XML") {
        const std::u16string packet =
            _data.size() <= limits::kMaxXmpPacketBytes ? decodeUtf8(_data) : std::u16string();
        // Where each element first starts, found in one pass over the packet instead of one
        // search per element.
        std::array<std::size_t, std::size(kXmpKeys)> tags;
        tags.fill(std::u16string_view::npos);
        std::size_t missing = tags.size();
        for (std::size_t at = packet.find(u'<'); at != std::u16string_view::npos && missing > 0;
             at = packet.find(u'<', at + 1)) {
            const std::u16string_view rest = std::u16string_view(packet).substr(at + 1);
            for (std::size_t k = 0; k < tags.size(); ++k) {
                if (tags[k] == std::u16string_view::npos && rest.starts_with(kXmpKeys[k].element)) {
                    tags[k] = at;
                    --missing;
                }
            }
        }
        for (std::size_t k = 0; k < tags.size(); ++k)
            applyXmpText(extractNodeTextAt(packet, kXmpKeys[k].element, tags[k]),
                         kXmpKeys[k].infoKey);
    } else {
        MemoryParser data;
        data.attach(_data.data(), _data.size());
        static_cast<void>(_values.parse(data, 0));
    }
    resolveReferences();
    return PDFResult::Ok;
}

std::u16string PDFInfoObject::extractNodeText(std::u16string_view packet,
                                              std::u16string_view nodeName) {
    std::u16string open(1, u'<');
    open += nodeName;
    return extractNodeTextAt(packet, nodeName, packet.find(open));
}

std::u16string PDFInfoObject::extractNodeTextAt(std::u16string_view packet,
                                                std::u16string_view nodeName, std::size_t tag) {
    assert(nodeName.size() < 25 && "wcslen(nodeName) < 25");
    if (tag == std::u16string_view::npos)
        return {};
    const std::u16string close = u"</" + std::u16string(nodeName) + u">";
    std::size_t start = packet.find(u'>', tag + 1);
    if (start == std::u16string_view::npos)
        return {};
    ++start;
    // Step over blanks and nested start tags such as rdf:Alt, rdf:Seq and rdf:li.
    while (start < packet.size()) {
        if (isXmlBlank(packet[start])) {
            ++start;
        } else if (packet[start] == u'<') {
            const std::size_t end = packet.find(u'>', start);
            if (end == std::u16string_view::npos)
                return {};
            start = end + 1;
        } else {
            break;
        }
    }
    if (start >= packet.size())
        return {};

    const std::size_t closing = packet.find(close, start);
    if (closing == std::u16string_view::npos)
        return {};
    // Walk back over blanks and end tags such as that of rdf:li.
    std::size_t end = closing;
    while (end > start) {
        const char16_t c = packet[end - 1];
        if (isXmlBlank(c)) {
            --end;
        } else if (c == u'>') {
            const std::size_t tagStart = packet.rfind(u'<', end - 1);
            if (tagStart == std::u16string_view::npos || tagStart < start)
                return {};
            end = tagStart;
        } else {
            break;
        }
    }
    return std::u16string(packet.substr(start, end - start));
}

void PDFInfoObject::applyXmpNode(std::u16string_view packet, std::u16string_view nodeName,
                                 const std::string &infoKey) {
    applyXmpText(extractNodeText(packet, nodeName), infoKey);
}

void PDFInfoObject::applyXmpText(std::u16string text, const std::string &infoKey) {
    if (text.empty() || text == u"()")
        return;
    _values.set(infoKey, PDFValue{std::move(text), false});
}

std::u16string PDFInfoObject::decodeUtf8(std::span<const std::uint8_t> bytes) {
    // No byte gives more than one code unit: the units are written in place, then the text is
    // cut to their number.
    std::u16string out(bytes.size(), u'\0');
    char16_t *unit = out.data();
    for (std::size_t i = 0; i < bytes.size();) {
        const std::uint8_t lead = bytes[i++];
        if (lead < 0x80) {
            *unit++ = lead;
            continue;
        }
        char32_t value;
        int continuation;
        if (lead >= 0xC0 && lead <= 0xDF) {
            value = lead & 0x1Fu;
            continuation = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            value = lead & 0x0Fu;
            continuation = 2;
        } else if (lead >= 0xF0 && lead <= 0xF7) {
            value = lead & 0x07u;
            continuation = 3;
        } else {
            return {};
        }
        for (; continuation > 0; --continuation, ++i) {
            if (i >= bytes.size() || bytes[i] < 0x80 || bytes[i] > 0xBF)
                return {};
            value = (value << 6) | (bytes[i] & 0x3Fu);
        }
        // Overlong forms pass; surrogates and values beyond Unicode do not.
        if ((value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF)
            return {};
        if (value > 0xFFFF) {
            *unit++ = static_cast<char16_t>(0xD800 + ((value - 0x10000) >> 10));
            *unit++ = static_cast<char16_t>(0xDC00 + (value & 0x3FF));
        } else {
            *unit++ = static_cast<char16_t>(value);
        }
    }
    out.resize(static_cast<std::size_t>(unit - out.data()));
    return out;
}

void PDFInfoObject::resolveReferences() {
    for (auto &[key, value] : _values) {
        if (!value.isReference)
            continue;
        std::string narrow(value.text.size(), '\0');
        for (std::size_t i = 0; i < value.text.size(); ++i)
            narrow[i] = value.text[i] < 0x80 ? static_cast<char>(value.text[i]) : '?';
        std::uint32_t number = 0;
        char keyword = 0;
        if (MemoryParser::scanText(narrow, "%u %*u %c", {&number, &keyword}) != 2 || keyword != 'R')
            continue;
        PDFObject target(_owner);
        if (_owner->readObject(number, target) != PDFResult::Ok)
            continue;
        value.text.assign(target._data.begin(), target._data.end());
        value.isReference = false;
    }
}

} // namespace vellumtag
