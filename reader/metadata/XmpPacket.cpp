#include "metadata/XmpPacket.h"

#include <algorithm>
#include <array>
#include <map>
#include <pugixml.hpp>

#include "syntax/Limits.h"
#include "syntax/PDFNames.h"
#include "syntax/TextEncoding.h"

namespace vellumtag {

namespace {

constexpr std::string_view kRdf = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
constexpr std::string_view kDublinCore = "http://purl.org/dc/elements/1.1/";
constexpr std::string_view kAdobePdf = "http://ns.adobe.com/pdf/1.3/";
constexpr std::string_view kXmpBasic = "http://ns.adobe.com/xap/1.0/";
constexpr std::string_view kXml = "http://www.w3.org/XML/1998/namespace";

// The prefixes that the XMP Specification and ISO 32000-1, 14.3.2 use, for packets that leave
// them unbound; "xap" is the XMP namespace's prefix in older packets.
constexpr std::pair<std::string_view, std::string_view> kUsualPrefixes[] = {
    {"rdf", kRdf}, {"dc", kDublinCore}, {"pdf", kAdobePdf}, {"xmp", kXmpBasic}, {"xap", kXmpBasic}};

struct Property {
    std::string_view uri;
    std::string_view name;
    std::string_view infoKey;
};

// The properties that stand for keys of the information dictionary (ISO 32000-1, 14.3.2),
// in the order their values are given.
constexpr Property kProperties[] = {
    {kDublinCore, "title", names::kTitle},           {kDublinCore, "creator", names::kAuthor},
    {kDublinCore, "description", names::kSubject},   {kAdobePdf, "Keywords", names::kKeywords},
    {kAdobePdf, "Producer", names::kProducer},       {kXmpBasic, "CreatorTool", names::kCreator},
    {kXmpBasic, "CreateDate", names::kCreationDate}, {kXmpBasic, "ModifyDate", names::kModDate},
};

struct Name {
    std::string_view uri;
    std::string_view local;
    bool operator==(const Name &) const = default;
};

// The prefixes bound by the xmlns attributes of the elements open around the one being read,
// innermost last (Namespaces in XML 1.0, 6.1).
class Bindings {
public:
    // Binds what the element's own attributes bind; returns the mark to unbind them at.
    std::size_t enter(const pugi::xml_node &element) {
        const std::size_t mark = _bindings.size();
        for (const pugi::xml_attribute &attribute : element.attributes()) {
            const std::string_view name = attribute.name();
            if (name == "xmlns")
                _bindings.emplace_back("", attribute.value());
            else if (name.starts_with("xmlns:"))
                _bindings.emplace_back(name.substr(6), attribute.value());
        }
        return mark;
    }
    void leave(std::size_t mark) { _bindings.resize(mark); }

    // The namespace and local part of an element's name, or of an attribute's (which has
    // no namespace without a prefix).
    Name resolve(std::string_view qualified, bool attribute) const {
        const std::size_t colon = qualified.find(':');
        const std::string_view prefix =
            colon == std::string_view::npos ? std::string_view() : qualified.substr(0, colon);
        const std::string_view local =
            colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
        if (prefix == "xml")
            return {kXml, local};
        if (prefix.empty() && attribute)
            return {{}, local};
        for (auto it = _bindings.rbegin(); it != _bindings.rend(); ++it) {
            if (it->first == prefix)
                return {it->second, local};
        }
        // A prefix that nothing binds is taken in its usual meaning: packets written without
        // their declarations were read by their prefixes before, and still are.
        for (const auto &[usual, uri] : kUsualPrefixes) {
            if (usual == prefix)
                return {uri, local};
        }
        return {{}, local};
    }

private:
    std::vector<std::pair<std::string_view, std::string_view>> _bindings;
};

std::u16string utf16(std::string_view utf8) {
    return decodeUtf8(std::span(reinterpret_cast<const std::uint8_t *>(utf8.data()), utf8.size()));
}

// The text of a node's content, its character data and that of the elements in it, in order.
std::string textOf(const pugi::xml_node &node) {
    std::string text;
    std::vector<pugi::xml_node> pending = {node};
    while (!pending.empty()) {
        const pugi::xml_node current = pending.back();
        pending.pop_back();
        if (current.type() == pugi::node_pcdata || current.type() == pugi::node_cdata) {
            text += current.value();
            continue;
        }
        // Children are taken from the stack last first, so they are pushed in reverse.
        std::vector<pugi::xml_node> children(current.begin(), current.end());
        pending.insert(pending.end(), children.rbegin(), children.rend());
    }
    return text;
}

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The value of a property element: the x-default (or first) item of an rdf:Alt, the items of
// an rdf:Seq or rdf:Bag joined by "; ", or else its text.
std::string valueOf(const pugi::xml_node &property, Bindings &bindings) {
    for (const pugi::xml_node &container : property.children()) {
        if (container.type() != pugi::node_element)
            continue;
        const std::size_t mark = bindings.enter(container);
        const Name kind = bindings.resolve(container.name(), false);
        std::vector<std::string> items;
        std::string chosen;
        bool defaultFound = false;
        for (const pugi::xml_node &item : container.children()) {
            if (item.type() != pugi::node_element)
                continue;
            const std::size_t itemMark = bindings.enter(item);
            if (bindings.resolve(item.name(), false) == Name{kRdf, "li"}) {
                std::string text(trimmed(textOf(item)));
                if (kind == Name{kRdf, "Alt"}) {
                    const bool isDefault =
                        std::string_view(item.attribute("xml:lang").value()) == "x-default";
                    if (items.empty() || (isDefault && !defaultFound))
                        chosen = text;
                    defaultFound = defaultFound || isDefault;
                }
                items.push_back(std::move(text));
            }
            bindings.leave(itemMark);
        }
        bindings.leave(mark);
        if (kind == Name{kRdf, "Alt"})
            return chosen;
        if (kind == Name{kRdf, "Seq"} || kind == Name{kRdf, "Bag"}) {
            std::string joined;
            for (const std::string &item : items) {
                if (item.empty())
                    continue;
                if (!joined.empty())
                    joined += "; ";
                joined += item;
            }
            return joined;
        }
    }
    return textOf(property);
}

// Visits every element in document order, without recursion, with the prefixes in scope:
// visit(element, inDescription) is told whether the element's parent is an rdf:Description and
// returns whether to go into the element's children.
template <class Visit>
void walkElements(const pugi::xml_document &document, Bindings &bindings, Visit visit) {
    // A frame with a mark is the end of an element, whose bindings are then dropped.
    struct Frame {
        pugi::xml_node node;
        bool inDescription;
        std::optional<std::size_t> mark;
    };
    std::vector<Frame> pending;
    for (auto it = document.children().end(); it != document.children().begin();)
        pending.push_back({*--it, false, std::nullopt});
    while (!pending.empty()) {
        const Frame frame = pending.back();
        pending.pop_back();
        if (frame.mark) {
            bindings.leave(*frame.mark);
            continue;
        }
        if (frame.node.type() != pugi::node_element)
            continue;
        const std::size_t mark = bindings.enter(frame.node);
        const bool description =
            bindings.resolve(frame.node.name(), false) == Name{kRdf, "Description"};
        if (!visit(frame.node, frame.inDescription)) {
            bindings.leave(mark);
            continue;
        }
        pending.push_back({frame.node, false, mark});
        std::vector<pugi::xml_node> children(frame.node.begin(), frame.node.end());
        for (auto child = children.rbegin(); child != children.rend(); ++child)
            pending.push_back({*child, description, std::nullopt});
    }
}

// Parses the packet unless it holds more markup than limits::kMaxXmpTags; false when it is not
// well-formed XML.
bool parse(std::span<const std::uint8_t> packet, pugi::xml_document &document) {
    if (static_cast<std::size_t>(std::count(packet.begin(), packet.end(), '<')) >
        limits::kMaxXmpTags)
        return false;
    // The default options, which read no document type declaration: nothing is expanded.
    return static_cast<bool>(document.load_buffer(packet.data(), packet.size(), pugi::parse_default,
                                                  pugi::encoding_auto));
}

// The prefixes exiftool gives the namespaces it knows, whatever a packet binds them to.
constexpr std::pair<std::string_view, std::string_view> kGroupPrefixes[] = {
    {kDublinCore, "dc"},
    {kXmpBasic, "xmp"},
    {"http://ns.adobe.com/xap/1.0/mm/", "xmpMM"},
    {"http://ns.adobe.com/xap/1.0/rights/", "xmpRights"},
    {"http://ns.adobe.com/xap/1.0/t/pg/", "xmpTPg"},
    {kAdobePdf, "pdf"},
    {"http://www.aiim.org/pdfa/ns/id/", "pdfaid"},
    {"http://www.aiim.org/pdfua/ns/id/", "pdfuaid"},
    {"http://ns.adobe.com/pdfx/1.3/", "pdfx"},
    {"http://www.npes.org/pdfx/ns/id/", "pdfxid"},
    {"http://ns.adobe.com/photoshop/1.0/", "photoshop"},
    {"http://prismstandard.org/namespaces/basic/2.0/", "prism"},
    {"http://prismstandard.org/namespaces/basic/2.1/", "prism"},
    {"http://prismstandard.org/namespaces/basic/3.0/", "prism"},
    {"http://ns.adobe.com/camera-raw-settings/1.0/", "crs"},
    {"http://ns.adobe.com/tiff/1.0/", "tiff"},
    {"http://ns.adobe.com/exif/1.0/", "exif"},
    {"http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/", "Iptc4xmpCore"},
};

// A name with its first letter in capitals, as exiftool names tags.
std::string capitalized(std::string_view name) {
    std::string out(name);
    if (!out.empty() && out[0] >= 'a' && out[0] <= 'z')
        out[0] = static_cast<char>(out[0] - 'a' + 'A');
    return out;
}

// Attributes that are markup rather than properties or fields: namespace declarations and
// the rdf: and xml: ones.
bool isMarkup(const Name &name, std::string_view qualified) {
    return qualified == "xmlns" || qualified.starts_with("xmlns:") || name.uri == kRdf ||
           name.uri == kXml;
}

// Reads every property of a packet into keys and their values, each key once.
class PropertyCollector {
public:
    explicit PropertyCollector(Bindings &bindings) : _bindings(bindings) {}

    // A property of a description, as an element: its key is made from its namespace.
    void topProperty(const pugi::xml_node &element) {
        const std::size_t mark = _bindings.enter(element);
        const std::string_view qualified = element.name();
        if (auto key = topKey(_bindings.resolve(qualified, false), qualified)) {
            _frozen = _entries.size();
            property(element, *key, 0);
        }
        _bindings.leave(mark);
    }

    // A property of a description, as an attribute.
    void topAttribute(const pugi::xml_attribute &attribute) {
        const std::string_view qualified = attribute.name();
        const Name name = _bindings.resolve(qualified, true);
        if (isMarkup(name, qualified))
            return;
        if (auto key = topKey(name, qualified)) {
            _frozen = _entries.size();
            add(*key, attribute.value());
        }
    }

    XmpPacket::Properties result() const {
        XmpPacket::Properties out;
        for (const auto &[key, items] : _entries) {
            std::string joined;
            for (const std::string &item : items)
                joined.append(joined.empty() ? "" : "; ").append(item);
            std::u16string text = utf16(joined);
            if (!text.empty() && text != u"()")
                out.emplace_back(key, std::move(text));
        }
        return out;
    }

private:
    // "XMP-<prefix>:<Name>"; nothing for a property of no namespace and no prefix.
    static std::optional<std::string> topKey(const Name &name, std::string_view qualified) {
        std::string_view prefix;
        for (const auto &[uri, known] : kGroupPrefixes) {
            if (uri == name.uri)
                prefix = known;
        }
        const std::size_t colon = qualified.find(':');
        if (prefix.empty() && colon != std::string_view::npos)
            prefix = qualified.substr(0, colon);
        if (prefix.empty() || name.local.empty())
            return std::nullopt;
        return "XMP-" + std::string(prefix) + ":" + capitalized(name.local);
    }

    // The first element child of a node, or an empty node.
    static pugi::xml_node firstElement(const pugi::xml_node &node) {
        for (const pugi::xml_node &child : node.children()) {
            if (child.type() == pugi::node_element)
                return child;
        }
        return {};
    }

    // The node whose attributes and child elements are a struct's fields: the element itself
    // (rdf:parseType="Resource", or fields written as its attributes), an rdf:Description in
    // it, or none when the element is no struct.
    pugi::xml_node structFields(const pugi::xml_node &element) {
        if (std::string_view(element.attribute("rdf:parseType").value()) == "Resource")
            return element;
        const pugi::xml_node child = firstElement(element);
        if (child)
            return _bindings.resolve(child.name(), false) == Name{kRdf, "Description"}
                       ? child
                       : pugi::xml_node();
        if (!trimmed(textOf(element)).empty())
            return {};
        for (const pugi::xml_attribute &attribute : element.attributes()) {
            if (!isMarkup(_bindings.resolve(attribute.name(), true), attribute.name()))
                return element;
        }
        return {};
    }

    void property(const pugi::xml_node &element, const std::string &key, int depth) {
        if (const pugi::xml_node fields = structFields(element)) {
            fieldsOf(fields, key, depth);
            return;
        }
        // An array whose items are structs gives each field's values in item order.
        const pugi::xml_node container = firstElement(element);
        const std::size_t mark = container ? _bindings.enter(container) : 0;
        const Name kind = container ? _bindings.resolve(container.name(), false) : Name{};
        bool itemStructs = false;
        if (kind == Name{kRdf, "Seq"} || kind == Name{kRdf, "Bag"}) {
            for (const pugi::xml_node &item : container.children()) {
                if (item.type() != pugi::node_element)
                    continue;
                const std::size_t itemMark = _bindings.enter(item);
                if (const pugi::xml_node fields = structFields(item)) {
                    itemStructs = true;
                    fieldsOf(fields, key, depth);
                }
                _bindings.leave(itemMark);
            }
        }
        if (container)
            _bindings.leave(mark);
        if (!itemStructs)
            add(key, valueOf(element, _bindings));
    }

    void fieldsOf(const pugi::xml_node &fields, const std::string &key, int depth) {
        if (depth >= limits::kMaxXmpStructDepth)
            return;
        const std::size_t mark = _bindings.enter(fields);
        for (const pugi::xml_attribute &attribute : fields.attributes()) {
            const Name name = _bindings.resolve(attribute.name(), true);
            if (!isMarkup(name, attribute.name()))
                add(key + capitalized(name.local), attribute.value());
        }
        for (const pugi::xml_node &child : fields.children()) {
            if (child.type() != pugi::node_element)
                continue;
            const std::size_t childMark = _bindings.enter(child);
            const Name name = _bindings.resolve(child.name(), false);
            property(child, key + capitalized(name.local), depth + 1);
            _bindings.leave(childMark);
        }
        _bindings.leave(mark);
    }

    // One more value of a key, unless an earlier property gave the key already.
    void add(const std::string &key, std::string_view value) {
        value = trimmed(value);
        if (value.empty())
            return;
        const auto [it, added] = _index.try_emplace(key, _entries.size());
        if (added)
            _entries.emplace_back(key, std::vector<std::string>());
        else if (it->second < _frozen)
            return;
        _entries[it->second].second.emplace_back(value);
    }

    Bindings &_bindings;
    std::vector<std::pair<std::string, std::vector<std::string>>> _entries;
    std::map<std::string, std::size_t, std::less<>> _index;
    // Entries before this one were given by earlier properties.
    std::size_t _frozen = 0;
};

} // namespace

std::optional<XmpPacket::Values> XmpPacket::read(std::span<const std::uint8_t> packet) {
    pugi::xml_document document;
    if (!parse(packet, document))
        return std::nullopt;

    std::array<std::string, std::size(kProperties)> found;
    const auto take = [&found](const Name &name, std::string value) {
        if (trimmed(value).empty())
            return;
        for (std::size_t k = 0; k < found.size(); ++k) {
            if (found[k].empty() && name == Name{kProperties[k].uri, kProperties[k].name})
                found[k] = std::move(value);
        }
    };

    Bindings bindings;
    walkElements(document, bindings, [&](const pugi::xml_node &element, bool inDescription) {
        const Name name = bindings.resolve(element.name(), false);
        // A property of the description around it, as an element.
        if (inDescription)
            take(name, valueOf(element, bindings));
        // Properties as attributes of the description.
        if (name == Name{kRdf, "Description"}) {
            for (const pugi::xml_attribute &attribute : element.attributes())
                take(bindings.resolve(attribute.name(), true), attribute.value());
        }
        return true;
    });

    Values values;
    for (std::size_t k = 0; k < found.size(); ++k) {
        if (!found[k].empty())
            values.emplace_back(kProperties[k].infoKey, utf16(found[k]));
    }
    return values;
}

std::optional<XmpPacket::Properties> XmpPacket::readAll(std::span<const std::uint8_t> packet) {
    pugi::xml_document document;
    if (!parse(packet, document))
        return std::nullopt;
    // The elements down to each rdf:Description, whose attributes and children are the
    // properties; what lies inside a property is the collector's.
    Bindings bindings;
    PropertyCollector collector(bindings);
    walkElements(document, bindings, [&](const pugi::xml_node &element, bool) {
        if (bindings.resolve(element.name(), false) != Name{kRdf, "Description"})
            return true;
        for (const pugi::xml_attribute &attribute : element.attributes())
            collector.topAttribute(attribute);
        for (const pugi::xml_node &child : element.children()) {
            if (child.type() == pugi::node_element)
                collector.topProperty(child);
        }
        return false;
    });
    return collector.result();
}

} // namespace vellumtag
