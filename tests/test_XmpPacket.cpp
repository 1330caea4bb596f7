#include <gtest/gtest.h>

#include <map>
#include <string>

#include "metadata/XmpPacket.h"
#include "syntax/Limits.h"

using namespace vellumtag;

namespace {

using Values = std::map<std::string, std::u16string>;

// The packet around descriptions, with the usual namespace declarations.
std::string packet(const std::string &descriptions) {
    return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>"
           "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
           "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">" +
           descriptions + "</rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";
}

const std::string kNamespaces = " xmlns:dc=\"http://purl.org/dc/elements/1.1/\""
                                " xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\""
                                " xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\"";

std::string description(const std::string &body, const std::string &attributes = "") {
    return "<rdf:Description rdf:about=\"\"" + kNamespaces + attributes + ">" + body +
           "</rdf:Description>";
}

std::optional<Values> read(const std::string &text) {
    const auto values = XmpPacket::read(
        std::span(reinterpret_cast<const std::uint8_t *>(text.data()), text.size()));
    if (!values)
        return std::nullopt;
    Values out;
    for (const auto &[key, value] : *values)
        out.emplace(key, value);
    return out;
}

// XMP Specification Part 1, 7.5 to 7.9 and ISO 32000-1, 14.3.2: simple properties, language
// alternatives and arrays, in element and attribute form, named by namespace and not prefix.
TEST(XmpPacket, PropertiesAsTheyAreWritten_14_3_2) {
    struct Case {
        const char *what;
        std::string packet;
        Values expected;
    };
    const Case cases[] = {
        {"element form",
         packet(description("<pdf:Producer>Writer 1.0</pdf:Producer>"
                            "<xmp:CreateDate>2024-01-05T12:00:00+01:00</xmp:CreateDate>")),
         {{"Producer", u"Writer 1.0"}, {"CreationDate", u"2024-01-05T12:00:00+01:00"}}},
        {"attribute form",
         packet(description("", " pdf:Producer=\"GPL Ghostscript 10.00.0\""
                                " xmp:ModifyDate=\"2024-02-01T00:00:00Z\"")),
         {{"Producer", u"GPL Ghostscript 10.00.0"}, {"ModDate", u"2024-02-01T00:00:00Z"}}},
        {"entities and character references",
         packet(
             description("<pdf:Keywords>Smith &amp; Jones &lt;tm&gt; &#x2122;&#233;</pdf:Keywords>"
                         "<xmp:CreatorTool><![CDATA[a < b]]></xmp:CreatorTool>")),
         {{"Keywords", u"Smith & Jones <tm> \u2122\u00E9"}, {"Creator", u"a < b"}}},
        {"an rdf:Seq of two authors, items trimmed, empty ones left out",
         packet(description("<dc:creator><rdf:Seq><rdf:li> Alice </rdf:li><rdf:li></rdf:li>"
                            "<rdf:li>Bob &amp; Co</rdf:li></rdf:Seq></dc:creator>")),
         {{"Author", u"Alice; Bob & Co"}}},
        {"an rdf:Bag",
         packet(description("<dc:creator><rdf:Bag><rdf:li>A</rdf:li><rdf:li>B</rdf:li>"
                            "</rdf:Bag></dc:creator>")),
         {{"Author", u"A; B"}}},
        {"rdf:Alt: the x-default item wherever it stands",
         packet(description("<dc:title><rdf:Alt><rdf:li xml:lang=\"de\">Titel</rdf:li>"
                            "<rdf:li xml:lang=\"x-default\">Title</rdf:li></rdf:Alt></dc:title>")),
         {{"Title", u"Title"}}},
        {"rdf:Alt: the first item without x-default",
         packet(description("<dc:description><rdf:Alt><rdf:li xml:lang=\"fr\">Résumé</rdf:li>"
                            "<rdf:li xml:lang=\"de\">Inhalt</rdf:li></rdf:Alt></dc:description>")),
         {{"Subject", u"R\u00E9sum\u00E9"}}},
        {"the xap prefix of older packets, bound to the XMP namespace",
         packet("<rdf:Description rdf:about=\"\" xmlns:xap=\"http://ns.adobe.com/xap/1.0/\">"
                "<xap:CreatorTool>Acrobat</xap:CreatorTool></rdf:Description>"),
         {{"Creator", u"Acrobat"}}},
        {"another prefix, bound on the property itself",
         packet("<rdf:Description rdf:about=\"\"><pdfx:Producer "
                "xmlns:pdfx=\"http://ns.adobe.com/pdf/1.3/\">Bound here</pdfx:Producer>"
                "</rdf:Description>"),
         {{"Producer", u"Bound here"}}},
        {"a default namespace",
         packet("<rdf:Description rdf:about=\"\"><title xmlns=\"http://purl.org/dc/elements/"
                "1.1/\">Default</title></rdf:Description>"),
         {{"Title", u"Default"}}},
        {"a usual prefix bound to another namespace is not that namespace",
         packet("<rdf:Description rdf:about=\"\" xmlns:dc=\"http://example.com/other/\">"
                "<dc:title>Other</dc:title></rdf:Description>"),
         {}},
        {"unbound usual prefixes keep their usual meaning",
         "<x:xmpmeta><rdf:RDF><rdf:Description><dc:title>Loose</dc:title>"
         "<pdf:Producer>Loose too</pdf:Producer></rdf:Description></rdf:RDF></x:xmpmeta>",
         {{"Title", u"Loose"}, {"Producer", u"Loose too"}}},
        {"the first description that gives a non-empty value wins",
         packet(description("<pdf:Producer>  </pdf:Producer>") +
                description("<pdf:Producer>Second</pdf:Producer>") +
                description("<pdf:Producer>Third</pdf:Producer>", " dc:title=\"T\"")),
         {{"Producer", u"Second"}, {"Title", u"T"}}},
        {"properties outside a description do not count",
         packet("<dc:title xmlns:dc=\"http://purl.org/dc/elements/1.1/\">Stray</dc:title>"),
         {}},
        {"malformed UTF-8 is replaced",
         packet(description("<pdf:Producer>caf\xC3 ok</pdf:Producer>")),
         {{"Producer", u"caf\uFFFD ok"}}},
    };
    for (const auto &c : cases) {
        const auto values = read(c.packet);
        ASSERT_TRUE(values.has_value()) << c.what;
        EXPECT_EQ(*values, c.expected) << c.what;
    }
}

TEST(XmpPacket, WhatIsNotReadAsXml) {
    // Not well-formed: the caller searches it as text.
    EXPECT_FALSE(read(packet(description("<pdf:Producer>open"))).has_value());
    EXPECT_FALSE(read("<a><b></a>").has_value());
    // A document type's entities are never expanded, so that no packet can grow a billion
    // laughs; a reference to one stays text.
    const std::string laughs =
        "<?xml version=\"1.0\"?><!DOCTYPE x [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b "
        "\"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]>" +
        packet(description("<pdf:Producer>&b;</pdf:Producer>"));
    const auto values = read(laughs);
    ASSERT_TRUE(values.has_value());
    EXPECT_EQ(values->at("Producer"), u"&b;");
}

// A packet of more markup than limits::kMaxXmpTags is left to the text search, and a deeply
// nested one costs no recursion.
TEST(XmpPacket, LimitsOfTheParse) {
    const std::string fits = packet(description("<pdf:Producer>P</pdf:Producer>"));
    const std::size_t tags = static_cast<std::size_t>(std::count(fits.begin(), fits.end(), '<'));
    std::string padding;
    for (std::size_t i = tags; i < limits::kMaxXmpTags; ++i)
        padding += "<!---->";
    const std::string atTheLimit = packet(description("<pdf:Producer>P</pdf:Producer>") + padding);
    EXPECT_TRUE(read(atTheLimit).has_value());
    EXPECT_FALSE(read(atTheLimit + "<!---->").has_value());

    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "<d>";
    for (int i = 0; i < 100000; ++i)
        deep += "</d>";
    const auto values = read(packet(description("<pdf:Producer>Deep</pdf:Producer>" + deep)));
    ASSERT_TRUE(values.has_value());
    EXPECT_EQ(values->at("Producer"), u"Deep");
}

} // namespace
