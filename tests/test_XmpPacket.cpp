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

std::optional<Values> readAll(const std::string &text) {
    const auto properties = XmpPacket::readAll(
        std::span(reinterpret_cast<const std::uint8_t *>(text.data()), text.size()));
    if (!properties)
        return std::nullopt;
    return Values(properties->begin(), properties->end());
}

// Every property under exiftool's key: the usual prefix of a known namespace or the packet's
// own, structs flattened field by field, arrays of structs field by field across items.
TEST(XmpPacket, WholePacketKeyedAsExiftoolNamesTags) {
    const std::string mm = " xmlns:mm=\"http://ns.adobe.com/xap/1.0/mm/\""
                           " xmlns:stRef=\"http://ns.adobe.com/xap/1.0/sType/ResourceRef#\""
                           " xmlns:stEvt=\"http://ns.adobe.com/xap/1.0/sType/ResourceEvent#\"";
    struct Case {
        const char *what;
        std::string packet;
        Values expected;
    };
    const Case cases[] = {
        {"simple properties, elements and attributes, names capitalized",
         packet(description("<dc:rights><rdf:Alt><rdf:li xml:lang=\"de\">R</rdf:li><rdf:li "
                            "xml:lang=\"x-default\">Rights</rdf:li></rdf:Alt></dc:rights>"
                            "<dc:subject><rdf:Bag><rdf:li>a</rdf:li><rdf:li>b</rdf:li></rdf:Bag>"
                            "</dc:subject>",
                            " xmp:Rating=\"4\"")),
         {{"XMP-dc:Rights", u"Rights"}, {"XMP-dc:Subject", u"a; b"}, {"XMP-xmp:Rating", u"4"}}},
        {"a known namespace under another prefix keeps its usual one; an unknown keeps its own",
         packet("<rdf:Description rdf:about=\"\" xmlns:a=\"http://www.aiim.org/pdfa/ns/id/\" "
                "xmlns:my=\"http://example.com/mine/\"><a:part>2</a:part>"
                "<my:projectCode> X-7 </my:projectCode></rdf:Description>"),
         {{"XMP-pdfaid:Part", u"2"}, {"XMP-my:ProjectCode", u"X-7"}}},
        {"structs: parseType Resource, a description inside, fields as attributes",
         packet("<rdf:Description rdf:about=\"\"" + mm +
                "><mm:DerivedFrom rdf:parseType=\"Resource\"><stRef:documentID>d1"
                "</stRef:documentID></mm:DerivedFrom><mm:ManagedFrom><rdf:Description "
                "stRef:instanceID=\"i2\"><stRef:documentID>d2</stRef:documentID>"
                "</rdf:Description></mm:ManagedFrom><mm:Ingredients stRef:filePath=\"f\"/>"
                "</rdf:Description>"),
         {{"XMP-xmpMM:DerivedFromDocumentID", u"d1"},
          {"XMP-xmpMM:ManagedFromInstanceID", u"i2"},
          {"XMP-xmpMM:ManagedFromDocumentID", u"d2"},
          {"XMP-xmpMM:IngredientsFilePath", u"f"}}},
        {"a sequence of structs gives each field joined",
         packet("<rdf:Description rdf:about=\"\"" + mm +
                "><mm:History><rdf:Seq><rdf:li rdf:parseType=\"Resource\"><stEvt:action>created"
                "</stEvt:action></rdf:li><rdf:li stEvt:action=\"saved\" stEvt:when=\"2024\"/>"
                "<rdf:li><rdf:Description stEvt:action=\"converted\"/></rdf:li></rdf:Seq>"
                "</mm:History></rdf:Description>"),
         {{"XMP-xmpMM:HistoryAction", u"created; saved; converted"},
          {"XMP-xmpMM:HistoryWhen", u"2024"}}},
        {"the first description to give a key wins; an empty value and () give none",
         packet(description("<dc:format> </dc:format><pdf:Trapped>()</pdf:Trapped>") +
                description("<dc:format>application/pdf</dc:format>") +
                description("<dc:format>text/plain</dc:format>")),
         {{"XMP-dc:Format", u"application/pdf"}}},
        {"markup attributes and unprefixed elements are no properties",
         packet("<rdf:Description rdf:about=\"x\" xml:lang=\"en\"><plain>no</plain>"
                "</rdf:Description>"),
         {}},
    };
    for (const auto &c : cases) {
        const auto values = readAll(c.packet);
        ASSERT_TRUE(values.has_value()) << c.what;
        EXPECT_EQ(*values, c.expected) << c.what;
    }
    EXPECT_FALSE(readAll("<a><b></a>").has_value());
}

// Structs nested deeper than limits::kMaxXmpStructDepth give nothing of their deeper fields.
TEST(XmpPacket, StructDepthLimit) {
    const auto nested = [](int depth) {
        std::string body = "<my:leaf>v</my:leaf>";
        for (int i = 0; i < depth; ++i)
            body = "<my:s rdf:parseType=\"Resource\">" + body + "</my:s>";
        return packet("<rdf:Description rdf:about=\"\" xmlns:my=\"http://example.com/m/\">" + body +
                      "</rdf:Description>");
    };
    std::string key = "XMP-my:S";
    for (int i = 1; i < limits::kMaxXmpStructDepth; ++i)
        key += "S";
    EXPECT_EQ(readAll(nested(limits::kMaxXmpStructDepth)), (Values{{key + "Leaf", u"v"}}));
    EXPECT_EQ(readAll(nested(limits::kMaxXmpStructDepth + 1)), Values{});
}

} // namespace
