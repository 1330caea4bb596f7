#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <optional>
#include <span>
#include <string>

#include "PDFDocument.h"
#include "metadata/DocumentFacts.h"
#include "metadata/PDFNameTree.h"
#include "support/PdfBuilder.h"
#include "syntax/Limits.h"
#include "syntax/TextEncoding.h"

using namespace vellumtag;
using vellumtag::test::PdfBuilder;
using vellumtag::test::PdfEncryption;
using vellumtag::test::PdfStream;

namespace {

// A one-page document: the catalog (1), the page tree root (2) and its page (3), each with
// extra entries, and further objects; encrypted from the start when asked.
struct Document {
    std::string catalog{};
    std::string pages = "/MediaBox [0 0 612 792]";
    std::string page{};
    std::string version = "1.7";
    std::map<std::uint32_t, std::string> objects{};
    std::string xmp{};
    std::optional<PdfEncryption> encryption{};
    std::string info{};
};

std::string build(const Document &d) {
    PdfBuilder builder(d.version);
    if (d.encryption)
        builder.encrypt(*d.encryption);
    builder.object(1, "<< /Type /Catalog /Pages 2 0 R " + d.catalog +
                          (d.xmp.empty() ? "" : " /Metadata 4 0 R") + " >>");
    builder.object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 " + d.pages + " >>");
    builder.object(3, "<< /Type /Page /Parent 2 0 R " + d.page + " >>");
    if (!d.xmp.empty())
        builder.stream(4, PdfStream{"/Type /Metadata /Subtype /XML", d.xmp});
    if (!d.info.empty())
        builder.object(5, "<< " + d.info + " >>");
    for (const auto &[number, body] : d.objects)
        builder.object(number, body);
    return builder.build(d.info.empty() ? "/Root 1 0 R" : "/Root 1 0 R /Info 5 0 R");
}

using Facts = std::map<std::string, std::string>;

Facts factsOf(const std::string &pdf) {
    PDFDocument document;
    document.setDetails(true);
    const auto bytes = std::span(reinterpret_cast<const std::uint8_t *>(pdf.data()), pdf.size());
    EXPECT_EQ(document.load(bytes), PDFResult::Ok);
    Facts facts;
    for (const auto &[key, text] : document.facts().entries(document.values()))
        facts[key] = validUtf8(text);
    return facts;
}

std::string packet(const std::string &properties) {
    return "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
           "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description "
           "rdf:about=\"\" xmlns:pdfaid=\"http://www.aiim.org/pdfa/ns/id/\" "
           "xmlns:pdfuaid=\"http://www.aiim.org/pdfua/ns/id/\" "
           "xmlns:pdfxid=\"http://www.npes.org/pdfx/ns/id/\">" +
           properties + "</rdf:Description></rdf:RDF></x:xmpmeta>";
}

PdfEncryption encryption(PdfEncryption::Cipher cipher, int revision, unsigned keyBits) {
    PdfEncryption e;
    e.objectNumber = 20;
    e.cipher = cipher;
    e.revision = revision;
    e.keyBits = keyBits;
    return e;
}

// Each fact from the entries that ISO 32000-1 gives it, in the shapes writers use: inherited,
// referenced, written in place, encrypted. Facts not listed are only checked when given.
TEST(DocumentFacts, FromTheStructure) {
    struct Case {
        const char *what;
        Document document;
        Facts expected;
        std::vector<std::string> missing = {};
    };
    const Case cases[] = {
        {"a plain document",
         {},
         {{"PDF:Version", "1.7"},
          {"PDF:Encryption", "none"},
          {"PDF:Linearized", "no"},
          {"PDF:Tagged", "no"},
          {"PDF:PageSize", "612 x 792"},
          {"PDF:Form", "none"},
          {"PDF:Attachments", "0"}},
         {"PDF:Language", "PDF:Conformance", "PDF:CreateDate"}},
        {"a later /Version in the catalog (7.7.2)",
         {.catalog = "/Version /1.7", .version = "1.4"},
         {{"PDF:Version", "1.7"}}},
        {"an earlier /Version does not count",
         {.catalog = "/Version /1.3", .version = "1.6"},
         {{"PDF:Version", "1.6"}}},
        {"RC4 40-bit",
         {.encryption = encryption(PdfEncryption::Cipher::RC4, 2, 40)},
         {{"PDF:Encryption", "RC4 40-bit"}}},
        {"RC4 128-bit",
         {.encryption = encryption(PdfEncryption::Cipher::RC4, 3, 128)},
         {{"PDF:Encryption", "RC4 128-bit"}}},
        {"AES-128",
         {.encryption = encryption(PdfEncryption::Cipher::AES128, 4, 128)},
         {{"PDF:Encryption", "AES-128"}}},
        {"AES-256",
         {.encryption = encryption(PdfEncryption::Cipher::AES256, 6, 256)},
         {{"PDF:Encryption", "AES-256"}}},
        {"/MarkInfo in place",
         {.catalog = "/MarkInfo << /Marked true >>"},
         {{"PDF:Tagged", "yes"}}},
        {"/MarkInfo referenced, /Marked referenced",
         {.catalog = "/MarkInfo 6 0 R", .objects = {{6, "<< /Marked 7 0 R >>"}, {7, "true"}}},
         {{"PDF:Tagged", "yes"}}},
        {"/Marked false", {.catalog = "/MarkInfo << /Marked false >>"}, {{"PDF:Tagged", "no"}}},
        {"/Lang", {.catalog = "/Lang (de-CH)"}, {{"PDF:Language", "de-CH"}}},
        {"/Lang encrypted with the catalog",
         {.catalog = "/Lang (de-CH)",
          .encryption = encryption(PdfEncryption::Cipher::AES128, 4, 128)},
         {{"PDF:Language", "de-CH"}}},
        {"/Lang referenced, as UTF-16",
         {.catalog = "/Lang 6 0 R", .objects = {{6, "<FEFF0066007200>"}}},
         {{"PDF:Language", "fr"}}},
        {"boxes inherited, the crop box clipped to the media box, turned by 90",
         {.pages = "/MediaBox [0 0 595.276 841.89] /Rotate 90", .page = "/CropBox [-10 0 500 900]"},
         {{"PDF:PageSize", "841.89 x 500"}}},
        {"a rectangle given by other corners, /Rotate -270",
         {.pages = "", .page = "/MediaBox [612 792 0 0] /Rotate -270"},
         {{"PDF:PageSize", "792 x 612"}}},
        {"a media box referenced, /Rotate 180",
         {.pages = "/MediaBox 6 0 R", .page = "/Rotate 180", .objects = {{6, "[0 0 420 595]"}}},
         {{"PDF:PageSize", "420 x 595"}}},
        {"no media box: no page size", {.pages = ""}, {}, {"PDF:PageSize"}},
        {"/AcroForm", {.catalog = "/AcroForm << /Fields [] >>"}, {{"PDF:Form", "AcroForm"}}},
        {"/AcroForm referenced, with /XFA",
         {.catalog = "/AcroForm 6 0 R", .objects = {{6, "<< /Fields [] /XFA [(a) 7 0 R] >>"}}},
         {{"PDF:Form", "XFA"}}},
        {"/AcroForm unreadable: no form fact", {.catalog = "/AcroForm 66 0 R"}, {}, {"PDF:Form"}},
        {"a name tree of embedded files, leaves in kids, a kid listed twice",
         {.catalog = "/Names << /EmbeddedFiles 6 0 R >>",
          .objects = {{6, "<< /Kids [7 0 R 8 0 R 7 0 R] >>"},
                      {7, "<< /Names [(a) 9 0 R (b) << /F (b (x).txt) >>] >>"},
                      {8, "<< /Names 10 0 R >>"},
                      {10, "[<63> 9 0 R]"}}},
         {{"PDF:Attachments", "3"}}},
        {"dates through the one parser",
         {.info = "/CreationDate (D:20230115103000+02'00') /ModDate (D:20230116)"},
         {{"PDF:CreateDate", "2023-01-15T10:30:00+02:00"},
          {"PDF:ModifyDate", "2023-01-16T00:00:00"}}},
        {"an XMP date, and one that is none",
         {.info = "/CreationDate (2023-01-15T08:30:00.50Z) /ModDate (yesterday)"},
         {{"PDF:CreateDate", "2023-01-15T08:30:00.5Z"}},
         {"PDF:ModifyDate"}},
        {"conformance claims",
         {.xmp = packet("<pdfaid:part>2</pdfaid:part><pdfaid:conformance>B</pdfaid:conformance>"
                        "<pdfuaid:part>1</pdfuaid:part>"
                        "<pdfxid:GTS_PDFXVersion>PDF/X-4</pdfxid:GTS_PDFXVersion>")},
         {{"PDF:Conformance", "PDF/A-2b, PDF/UA-1, PDF/X-4"}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const Facts facts = factsOf(build(c.document));
        for (const auto &[key, value] : c.expected) {
            const auto it = facts.find(key);
            ASSERT_NE(it, facts.end()) << key;
            EXPECT_EQ(it->second, value) << key;
        }
        for (const std::string &key : c.missing)
            EXPECT_EQ(facts.count(key), 0u) << key;
    }
}

// Annex F.2.2: the linearization dictionary is the first object, and its /L the file's
// length; an incremental update (a longer file) ends it.
TEST(DocumentFacts, LinearizedOnlyWhileTheLengthFits) {
    for (const long extra : {0L, 1L}) {
        PdfBuilder builder;
        builder.object(9, "<< /Linearized 1 /L 0000000000 /N 1 >>");
        builder.object(1, "<< /Type /Catalog /Pages 2 0 R >>");
        builder.object(2, "<< /Type /Pages /Kids [] /Count 0 >>");
        std::string pdf = builder.build("/Root 1 0 R");
        char length[16];
        std::snprintf(length, sizeof length, "%010ld", static_cast<long>(pdf.size()) + extra);
        pdf.replace(pdf.find("0000000000"), 10, length);
        EXPECT_EQ(factsOf(pdf)["PDF:Linearized"], extra == 0 ? "yes" : "no");
    }
}

// The walk of a name tree ends at limits::kMaxPageTreeNodes nodes, giving no count.
TEST(DocumentFacts, TheNameTreeWalkGivesUpBeyondTheNodeLimit) {
    PdfBuilder builder;
    builder.object(1, "<< /Type /Catalog /Pages 2 0 R /Names << /EmbeddedFiles 3 0 R >> >>");
    builder.object(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    std::string kids;
    for (std::size_t i = 0; i < limits::kMaxPageTreeNodes; ++i)
        kids += std::to_string(10 + i) + " 0 R ";
    builder.object(3, "<< /Kids [" + kids + "] >>");
    EXPECT_EQ(factsOf(builder.build("/Root 1 0 R")).count("PDF:Attachments"), 0u);
}

// The keys of a /Names array are its strings at the top level, whatever its values hold.
TEST(DocumentFacts, KeysOfANamesArray) {
    const std::pair<const char *, std::uint64_t> cases[] = {
        {"", 0},
        {"(a) 1 0 R", 1},
        {"(a) 1 0 R <62> << /F (x) /UF <FEFF> >> (c) [(d) (e)]", 3},
        {"(a (nested) \\) string) 4 0 R % (comment)\n(b) 5 0 R", 2},
    };
    for (const auto &[array, keys] : cases) {
        const std::string text = array;
        EXPECT_EQ(PDFNameTree::keysIn(
                      std::span(reinterpret_cast<const std::uint8_t *>(text.data()), text.size())),
                  keys)
            << array;
    }
}

// --xmp reads a packet as the eight keys are read: one that is not well-formed XML by the
// text search, one too large not at all.
TEST(DocumentFacts, XmpOfPacketsNotReadAsXml) {
    const auto xmpOf = [](const std::string &packet) {
        Document d;
        d.xmp = packet;
        PDFDocument document;
        document.setXmp(true);
        const std::string pdf = build(d);
        EXPECT_EQ(document.load(
                      std::span(reinterpret_cast<const std::uint8_t *>(pdf.data()), pdf.size())),
                  PDFResult::Ok);
        return std::map<std::string, std::u16string>(document.xmp().begin(), document.xmp().end());
    };
    EXPECT_EQ(xmpOf("<x><dc:title><rdf:Alt><rdf:li>Broken & title</rdf:li></rdf:Alt></dc:title>"
                    "<xmp:CreatorTool>()</xmp:CreatorTool><pdf:Producer>P</pdf:Producer>"),
              (std::map<std::string, std::u16string>{{"XMP-dc:Title", u"Broken & title"},
                                                     {"XMP-pdf:Producer", u"P"}}));
    EXPECT_TRUE(
        xmpOf("<dc:title>T</dc:title>" + std::string(limits::kMaxXmpPacketBytes, ' ')).empty());
}

// Page sizes are written as pdfinfo writes them, with printf's %g.
TEST(DocumentFacts, PointsAsPrintfGWritesThem) {
    for (const double points : {612.0, 595.276, 841.8898, 0.5, 1e-5, 14400.0, 1234567.0, -3.25}) {
        char expected[32];
        std::snprintf(expected, sizeof expected, "%g", points);
        EXPECT_EQ(DocumentFacts::pointsText(points), expected) << points;
    }
}

} // namespace
