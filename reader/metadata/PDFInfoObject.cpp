#include "metadata/PDFInfoObject.h"

#include <array>
#include <cassert>
#include <vector>

#include "metadata/XmpPacket.h"
#include "syntax/CharacterClass.h"
#include "syntax/MemorySource.h"
#include "syntax/PDFNames.h"
#include "syntax/TextEncoding.h"

namespace vellumtag {

namespace {

struct XmpKey {
    std::u16string_view element;
    std::string_view infoKey;
};

// Applied in this order; the information dictionary's own entries win over all of them.
constexpr XmpKey kXmpKeys[] = {
    {u"dc:title", names::kTitle},
    {u"dc:creator", names::kAuthor},
    {u"dc:description", names::kSubject},
    {u"pdf:Keywords", names::kKeywords},
    {u"pdf:Producer", names::kProducer},
    {u"xmp:CreatorTool", names::kCreator},
    {u"xmp:CreateDate", names::kCreationDate},
    {u"xmp:ModifyDate", names::kModDate},
};

// White space between XML markup (XML 1.0, 2.3): tab, LF, CR and space.
bool isXmlBlank(char16_t c) { return characters::kBlanks.contains(c); }

} // namespace

PDFResult PDFInfoObject::read(ObjectReader &objects, std::uint32_t number) {
    const PDFResult result = objects.readObject(number, *this);
    return result == PDFResult::Ok ? extract(objects) : result;
}

PDFResult PDFInfoObject::extract(ObjectReader &objects) {
    if (_data.empty()) {
        // Strings inside an object stream were decrypted with the stream.
        const Decryptor *decryptor = objects.context().decryptor;
        if (decryptor != nullptr && !_embedded) {
            const PDFResult decrypted =
                decryptor->decryptStrings(_dictionary, _objectNumber, _generation);
            if (decrypted != PDFResult::Ok)
                return decrypted;
        }
        _values.merge(_dictionary);
    } else if (_dictionary.getString(names::kType, u"") == names::kMetadataType &&
               _dictionary.getString(names::kSubtype, u"") == names::kXmlSubtype) {
        if (_data.size() > limits::kMaxXmpPacketBytes) {
            resolveReferences(objects);
            return PDFResult::Ok;
        }
        if (const auto values = XmpPacket::read(_data); values && !values->empty()) {
            for (const auto &[key, text] : *values)
                applyXmpText(text, key);
            resolveReferences(objects);
            return PDFResult::Ok;
        }
        // A packet that is no well-formed XML, or whose XML gives nothing (no rdf:Description,
        // say), is searched as text, as it always was: it gives what it gave.
        const std::u16string packet = decodeUtf8(_data);
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
        MemorySource source(_data);
        MemoryParser data(source);
        static_cast<void>(_values.parse(data, 0));
    }
    resolveReferences(objects);
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

std::vector<std::pair<std::string, std::u16string>>
PDFInfoObject::searchedXmp(std::span<const std::uint8_t> packet) {
    const std::u16string text = decodeUtf8(packet);
    std::vector<std::pair<std::string, std::u16string>> found;
    for (const XmpKey &key : kXmpKeys) {
        std::u16string value = extractNodeText(text, key.element);
        if (value.empty() || value == u"()")
            continue;
        // "dc:title" is XMP-dc:Title: the element's prefix, its name in capitals first.
        std::string name(key.element.begin(), key.element.end());
        const std::size_t colon = name.find(':');
        if (name[colon + 1] >= 'a' && name[colon + 1] <= 'z')
            name[colon + 1] = static_cast<char>(name[colon + 1] - 'a' + 'A');
        found.emplace_back("XMP-" + name, std::move(value));
    }
    return found;
}

void PDFInfoObject::applyXmpText(std::u16string text, std::string_view infoKey) {
    if (text.empty() || text == u"()")
        return;
    _values.set(std::string(infoKey), PDFValue{std::move(text), false});
}

void PDFInfoObject::resolveReferences(ObjectReader &objects) {
    std::vector<std::string> undecryptable;
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
        PDFObject target;
        if (objects.readObject(number, target) != PDFResult::Ok)
            continue;
        // A direct value is taken as the dictionary parse read it; the data of anything else
        // (a stream) one byte per unit.
        if (target._dictionary.empty() && target._value != PDFValue{})
            value = target._value;
        else
            value = PDFValue{std::u16string(target._data.begin(), target._data.end()), false, {}};
        value.isReference = false;
        // A string that is an object of its own is encrypted with that object's key; inside an
        // object stream it was decrypted with the stream.
        const Decryptor *decryptor = objects.context().decryptor;
        if (decryptor != nullptr && !target._embedded && value.isString()) {
            PDFDictionary single;
            single.set(std::string(), std::move(value));
            static_cast<void>(
                decryptor->decryptStrings(single, target._objectNumber, target._generation));
            if (const PDFValue *plain = single.find(""))
                value = *plain;
            else
                undecryptable.push_back(key);
        }
    }
    for (const std::string &key : undecryptable)
        _values.erase(key);
}

} // namespace vellumtag
