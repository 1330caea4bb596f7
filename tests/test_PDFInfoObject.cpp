#include <gtest/gtest.h>

#include <string>

#include "PDFDocument.h"
#include "TestSupport.h"
#include "metadata/PDFInfoObject.h"
#include "syntax/TextEncoding.h"

using namespace vellumtag;

namespace {

std::u16string packet(const char16_t *body) {
    return std::u16string(u"<x:xmpmeta><rdf:RDF><rdf:Description>") + body +
           u"</rdf:Description></rdf:RDF></x:xmpmeta>";
}

// The text search that reads a packet that is not well-formed XML.
TEST(PDFInfoObject, ExtractNodeText) {
    struct Case {
        const char16_t *body;
        const char16_t *node;
        std::u16string expected;
    };
    const Case cases[] = {
        {u"<dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">The Title</rdf:li></rdf:Alt>"
         u"</dc:title>",
         u"dc:title", u"The Title"},
        {u"<dc:creator>\n <rdf:Seq>\n  <rdf:li>Ada</rdf:li>\n  <rdf:li>Bob</rdf:li>\n "
         u"</rdf:Seq>\n</dc:creator>",
         u"dc:creator", u"Ada</rdf:li>\n  <rdf:li>Bob"},
        {u"<pdf:Producer>A &amp; B</pdf:Producer>", u"pdf:Producer", u"A &amp; B"},
        {u"<pdf:Producer>  padded \t</pdf:Producer>", u"pdf:Producer", u"padded"},
        {u"<pdf:Producer></pdf:Producer>", u"pdf:Producer", u""},
        {u"<pdf:Producer/>", u"pdf:Producer", u""},
        {u"<rdf:Description pdf:Producer=\"attr\"/>", u"pdf:Producer", u""},
        {u"<xmp:CreateDate>2024-01-02</xmp:CreateDate>", u"dc:title", u""},
        {u"<dc:title>unclosed", u"dc:title", u""},
        {u"<dc:title>a></dc:title>", u"dc:title", u""}, // the walk back would pass the start
        {u"<xmp:CreatorToolkit>no</xmp:CreatorToolkit><xmp:CreatorTool>yes</xmp:CreatorTool>",
         u"xmp:CreatorTool", u"no</xmp:CreatorToolkit><xmp:CreatorTool>yes"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(PDFInfoObject::extractNodeText(packet(c.body), c.node), c.expected)
            << std::string(c.body, c.body + std::char_traits<char16_t>::length(c.body)).size();
    }
}

// Only the exact text "()" of an XMP element is taken for no value.
TEST(PDFInfoObject, XmpTextsOfOnlyEmptyParenthesesAreIgnored) {
    struct Case {
        const char *title;
        const char16_t *expected; // nullptr: no Title
    };
    const Case cases[] = {{"()", nullptr}, {"( )", u"( )"}, {"", nullptr}, {"(x)", u"(x)"}};
    for (const auto &c : cases) {
        const std::string packet = "<x:xmpmeta><rdf:RDF><rdf:Description><dc:title>" +
                                   std::string(c.title) +
                                   "</dc:title></rdf:Description></rdf:RDF></x:xmpmeta>";
        const std::string pdf = test::PdfBuilder()
                                    .object(1, "<< /Type /Catalog /Metadata 2 0 R >>")
                                    .stream(2,
                                            "<< /Type /Metadata /Subtype /XML /Length " +
                                                std::to_string(packet.size()) + " >>",
                                            packet)
                                    .build("/Root 1 0 R");
        PDFDocument document;
        ASSERT_EQ(document.load(
                      std::span(reinterpret_cast<const std::uint8_t *>(pdf.data()), pdf.size())),
                  PDFResult::Ok);
        const PDFDictionary values = document.values();
        if (c.expected == nullptr)
            EXPECT_FALSE(values.contains("Title")) << c.title;
        else
            EXPECT_EQ(values.getString("Title", u""), c.expected) << c.title;
    }
}

// A packet is read as XML where it is well-formed, and searched as text where it is not, or
// where its XML gives nothing, as the reader always did: a broken packet gives what it gave.
TEST(PDFInfoObject, XmpAsXmlOrElseAsText) {
    struct Case {
        const char *what;
        std::string packet;
        std::u16string title; // empty: none
    };
    const Case cases[] = {
        {"well-formed",
         "<x:xmpmeta><rdf:RDF><rdf:Description><dc:title>A &amp; B</dc:title>"
         "</rdf:Description></rdf:RDF></x:xmpmeta>",
         u"A & B"},
        {"not closed", "<x:xmpmeta><rdf:RDF><rdf:Description><dc:title>A &amp; B</dc:title>",
         u"A &amp; B"},
        {"a stray ampersand",
         "<x:xmpmeta><rdf:RDF><rdf:Description><dc:title>A & B</dc:title>"
         "</rdf:Description></rdf:RDF></x:xmpmeta>",
         u"A & B"},
        {"malformed UTF-8, well-formed XML",
         "<x:xmpmeta><rdf:RDF><rdf:Description><dc:title>Caf\xE9</dc:title>"
         "</rdf:Description></rdf:RDF></x:xmpmeta>",
         u"Caf\uFFFD"},
        {"malformed UTF-8, no rdf:Description", "<dc:title>Caf\xE9 &</dc:title>", u"Caf\uFFFD &"},
        {"malformed UTF-8, broken XML", "<dc:title>Caf\xE9 &</dc:title><", u"Caf\uFFFD &"},
    };
    for (const auto &c : cases) {
        const std::string pdf = test::PdfBuilder()
                                    .object(1, "<< /Type /Catalog /Metadata 2 0 R >>")
                                    .stream(2,
                                            "<< /Type /Metadata /Subtype /XML /Length " +
                                                std::to_string(c.packet.size()) + " >>",
                                            c.packet)
                                    .build("/Root 1 0 R");
        PDFDocument document;
        ASSERT_EQ(document.load(
                      std::span(reinterpret_cast<const std::uint8_t *>(pdf.data()), pdf.size())),
                  PDFResult::Ok);
        EXPECT_EQ(document.values().getString("Title", u""), c.title) << c.what;
    }
}

// Malformed UTF-8 is replaced, one U+FFFD for each maximal subpart of a broken sequence
// (Unicode, 3.9), and decoding goes on.
TEST(TextEncoding, DecodeUtf8) {
    struct Case {
        std::string bytes;
        std::u16string expected;
    };
    const Case cases[] = {
        {"plain", u"plain"},
        {"caf\xC3\xA9", u"caf\u00e9"},
        {"\xEF\xBB\xBFx", u"\uFEFFx"},
        {"\xE6\x97\xA5", u"\u65e5"},
        {"\xF0\x9F\x93\x9A", u"\xD83D\xDCDA"},
        {"\xC1\x81", u"\uFFFD\uFFFD"},           // an overlong form's lead byte is no lead
        {"\xE0\x80\x81", u"\uFFFD\uFFFD\uFFFD"}, // an overlong three-byte form
        {"ok \xFF", u"ok \uFFFD"},
        {"ok \x80 go", u"ok \uFFFD go"},
        {"\xC3(", u"\uFFFD("},
        {"\xE6\x97", u"\uFFFD"},
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},                     // a surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},           // beyond U+10FFFF
        {"\xF8\x88\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"}, // five-byte lead
    };
    for (const auto &c : cases) {
        const auto *data = reinterpret_cast<const std::uint8_t *>(c.bytes.data());
        EXPECT_EQ(decodeUtf8({data, c.bytes.size()}), c.expected) << c.bytes;
    }
}

} // namespace
