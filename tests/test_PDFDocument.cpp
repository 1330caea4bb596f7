#include <gtest/gtest.h>

#include <string>

#include "PDFDocument.h"
#include "TestSupport.h"

using namespace vellumtag;
using vellumtag::test::PdfBuilder;
using vellumtag::test::TempDir;

namespace {

// The smallest file that passes the header and startxref tests: nothing after the offset.
const std::string kMinimalHead = "%PDF-1.4\n";

TEST(PDFDocument, LoadResultCodes) {
    TempDir dir;
    const std::string tail = "startxref\n9\n%%EOF\n";
    struct Case {
        const char *name;
        std::string bytes;
        PDFResult expected;
    };
    const Case cases[] = {
        {"empty.pdf", "", PDFResult::FileNotReadable},
        {"five.pdf", "%PDF-", PDFResult::NotPdf},
        {"bom.pdf", "\xEF\xBB\xBF%PDF-1.4\n" + tail, PDFResult::NotPdf},
        {"blank.pdf", " %PDF-1.4\n" + tail, PDFResult::NotPdf},
        {"lower.pdf", "%pdf-1.4\n" + tail, PDFResult::NotPdf},
        {"text.txt", "just some text\n", PDFResult::NotPdf},
        {"noxref.pdf", kMinimalHead + "%%EOF\n", PDFResult::XrefNotFound},
        {"far.pdf", kMinimalHead + "startxref\n9\n" + std::string(60, '%'),
         PDFResult::XrefNotFound},
        {"nonumber.pdf", kMinimalHead + "startxref\n%%EOF\n", PDFResult::XrefNotFound},
    };
    for (const auto &c : cases) {
        PDFDocument document;
        EXPECT_EQ(document.load(dir.write(c.name, c.bytes)), c.expected) << c.name;
        EXPECT_TRUE(document.values().empty()) << c.name;
    }
    PDFDocument missing;
    EXPECT_EQ(missing.load(dir.path() / "missing.pdf"), PDFResult::FileNotReadable);
    PDFDocument directory;
    EXPECT_EQ(directory.load(dir.path()), PDFResult::FileNotReadable);
}

TEST(PDFDocument, ResultMessages) {
    const std::pair<std::int32_t, std::u16string_view> cases[] = {
        {0, u"OK"},
        {100, u"File does not exists or can't be read"},
        {101, u"Not a PDF file"},
        {102, u"Can't find Xref table"},
        {103, u"Can't find Object number"},
        {104, u"Can't read object content"},
        {105, u"BadValue"},
        {106, u"PDF metadata encrypted with unsupported encryption or non-empty user password"},
        {107, u"Can't uncompress PDF compressed stream"},
        {108, u"Can't read object dictionary"},
        {199, u"Unspecified error"},
        {42, u"Unspecified error"},
        {-1, u"Unspecified error"},
    };
    for (const auto &[code, message] : cases)
        EXPECT_EQ(resultMessage(static_cast<PDFResult>(code)), message) << code;
}

std::string xmpPacket(const std::string &body) {
    return "<?xpacket begin=\"\xEF\xBB\xBF\"?><x:xmpmeta><rdf:RDF><rdf:Description>" + body +
           "</rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";
}

std::string metadataStream(const std::string &packet) {
    return "<< /Type /Metadata /Subtype /XML /Length " + std::to_string(packet.size()) +
           " >>\nstream\n" + packet + "\nendstream";
}

// Loads the bytes from a temporary file; the values as UTF-16 by key.
struct Loaded {
    PDFResult result;
    PDFDictionary values;
};

Loaded loadBytes(const std::string &bytes) {
    TempDir dir;
    PDFDocument document;
    Loaded loaded{document.load(dir.write("doc.pdf", bytes)), {}};
    loaded.values = document.values();
    return loaded;
}

TEST(PDFDocument, InfoWinsOverXmpEvenWhenEmpty) {
    const std::string xmp = xmpPacket(
        "<dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">XMP title</rdf:li></rdf:Alt>"
        "</dc:title><dc:creator><rdf:Seq><rdf:li>XMP author</rdf:li></rdf:Seq></dc:creator>"
        "<pdf:Producer>XMP producer</pdf:Producer>");
    const auto loaded =
        loadBytes(PdfBuilder()
                      .object(1, "<< /Type /Catalog /Pages 2 0 R /Metadata 5 0 R >>")
                      .object(2, "<< /Type /Pages /Kids [] /Count 12 >>")
                      .object(4, "<< /Title () /Author (  Info author \r\n) >>")
                      .object(5, metadataStream(xmp))
                      .build("/Root 1 0 R /Info 4 0 R"));
    ASSERT_EQ(loaded.result, PDFResult::Ok);
    EXPECT_EQ(loaded.values.getString("Title", u"missing"), u"");
    EXPECT_EQ(loaded.values.getString("Author", u""), u"Info author");
    EXPECT_EQ(loaded.values.getString("Producer", u""), u"XMP producer");
    EXPECT_EQ(loaded.values.getString("PageCount", u""), u"12");
    EXPECT_EQ(loaded.values.size(), 4u);
}

TEST(PDFDocument, XmpFromACompressedStreamAndAttributesIgnored) {
    const std::string xmp = xmpPacket("<dc:title>Only XMP</dc:title>");
    const auto loaded =
        loadBytes(PdfBuilder()
                      .object(1, "<< /Type /Catalog /Metadata 5 0 R >>")
                      .object(5, metadataStream(xmpPacket("<rdf:Description pdf:Producer=\"attr\"/>"
                                                          "<dc:title>Only XMP</dc:title>")))
                      .build("/Root 1 0 R"));
    ASSERT_EQ(loaded.result, PDFResult::Ok);
    EXPECT_EQ(loaded.values.getString("Title", u""), u"Only XMP");
    EXPECT_FALSE(loaded.values.contains("Producer"));
    EXPECT_FALSE(loaded.values.contains("PageCount"));
}

TEST(PDFDocument, PageCountComesFromInfoBeforeThePageTree) {
    struct Case {
        const char *info;
        const char *pages;
        const char16_t *expected; // nullptr: no entry
    };
    const Case cases[] = {
        {"<< /Title (t) >>", "<< /Type /Pages /Count 12 >>", u"12"},
        {"<< /PageCount (7) >>", "<< /Type /Pages /Count 12 >>", u"7"},
        {"<< /Title (t) >>", "<< /Type /Pages >>", nullptr},
        {"<< /Title (t) >>", "<< /Type /Pages /Count 9 0 R >>", u"33"},
    };
    for (const auto &c : cases) {
        const auto loaded = loadBytes(PdfBuilder()
                                          .object(1, "<< /Type /Catalog /Pages 2 0 R >>")
                                          .object(2, c.pages)
                                          .object(4, c.info)
                                          .object(9, "(33)")
                                          .build("/Root 1 0 R /Info 4 0 R"));
        ASSERT_EQ(loaded.result, PDFResult::Ok);
        if (c.expected == nullptr)
            EXPECT_FALSE(loaded.values.contains("PageCount")) << c.info << c.pages;
        else
            EXPECT_EQ(loaded.values.getString("PageCount", u""), c.expected) << c.pages;
    }
}

TEST(PDFDocument, ReferencesAreResolvedWhereTheyCanBe) {
    const auto loaded =
        loadBytes(PdfBuilder()
                      .object(1, "<< /Type /Catalog >>")
                      .object(4, "<< /Title 7 0 R /Subject 8 5 R /Author 99 0 R /Keywords 9 0 R "
                                 "/Custom (  custom value  ) /Trapped /False >>")
                      .object(7, "(  Referenced title  )")
                      .object(8, "<FEFF0141>")
                      .object(9, "<< /Not /AString >>")
                      .build("/Root 1 0 R /Info 4 0 R"));
    ASSERT_EQ(loaded.result, PDFResult::Ok);
    const auto &v = loaded.values;
    EXPECT_EQ(v.getString("Title", u""), u"Referenced title");
    EXPECT_EQ(v.getString("Subject", u""), u"A") << "U+0141 arrives as its low byte";
    EXPECT_EQ(*v.find("Author"), (PDFValue{u"99 0 R", true}));
    EXPECT_EQ(*v.find("Keywords"), (PDFValue{u"", false}));
    EXPECT_EQ(v.getString("Custom", u""), u"custom value");
    EXPECT_EQ(v.getString("Trapped", u"missing"), u"");
    EXPECT_EQ(v.getString("False", u"missing"), u"");
}

TEST(PDFDocument, AnEmptyMetadataStreamReadsAsADictionary) {
    const auto loaded = loadBytes(
        PdfBuilder()
            .object(1, "<< /Type /Catalog /Metadata 5 0 R >>")
            .object(5, "<< /Type /Metadata /Subtype /XML /Length 0 >>\nstream\n\nendstream")
            .build("/Root 1 0 R"));
    ASSERT_EQ(loaded.result, PDFResult::Ok);
    EXPECT_EQ(loaded.values.getString("Type", u""), u"Metadata");
    EXPECT_EQ(loaded.values.getString("Subtype", u""), u"XML");
    EXPECT_EQ(loaded.values.getString("Length", u""), u"0");
}

TEST(PDFDocument, CrossReferenceChainOutcomes) {
    // The catalog, then a section written by hand at a known offset, then startxref.
    enum Startxref { AtTheSection, PastTheEnd, InTheSectionsTail, InTheHeader };
    const auto file = [](const std::string &section, Startxref startxref) {
        test::PdfBuilder builder("1.4");
        char entry[32];
        std::snprintf(entry, sizeof entry, "%010llu 00000 n \n",
                      static_cast<unsigned long long>(builder.offset()));
        builder.raw("1 0 obj\n<< /Type /Catalog >>\nendobj\n");
        const std::uint64_t at = builder.offset();
        std::string text = section;
        for (const auto &[mark, value] :
             {std::pair<std::string, std::string>{"@entry", entry}, {"@self", std::to_string(at)}})
            if (const auto found = text.find(mark); found != std::string::npos)
                text.replace(found, mark.size(), value);
        const std::uint64_t offsets[] = {at, 100000, at + 30, 4};
        return builder.raw(text + "startxref\n" + std::to_string(offsets[startxref]) + "\n%%EOF\n")
            .str();
    };
    // A section whose /Prev is itself, without /Root or /Info.
    const std::string loop = "xref\n0 1\n@entrytrailer\n<< /Prev @self >>\n";
    // The newest trailer names /Root: the broken older section is never needed.
    const std::string named = "xref\n1 1\n@entrytrailer\n<< /Root 1 0 R /Prev 3 >>\n";

    struct Case {
        std::string bytes;
        PDFResult expected;
    };
    const Case cases[] = {
        {file("", PastTheEnd), PDFResult::BadValue},
        {file("", InTheSectionsTail), PDFResult::BadValue},
        {file(loop, AtTheSection), PDFResult::XrefNotFound},
        {file(named, AtTheSection), PDFResult::Ok},
        {file("garbage\n", InTheHeader), PDFResult::Unspecified},
    };
    for (const auto &c : cases) {
        const auto loaded = loadBytes(c.bytes);
        EXPECT_EQ(loaded.result, c.expected) << c.bytes;
        EXPECT_TRUE(c.expected != PDFResult::Ok || loaded.values.empty());
    }
}

TEST(PDFDocument, FixturesThatOnceBrokeTheReader) {
    const std::filesystem::path data = std::filesystem::path(VELLUMTAG_SOURCE_DIR) / "tests/data";
    const std::u16string unicodeTitle = u"\u00DCn\u00EFc\u00F8d\u00E9 \u2014 "
                                        u"\u65E5\u672C\u8A9E\u306E\u30BF\u30A4\u30C8\u30EB "
                                        u"\U0001F4DA";
    struct Case {
        const char *file;
        const char *key;
        std::u16string expected;
    };
    const Case cases[] = {
        {"encrypted-r2-utf16.pdf", "Title", unicodeTitle},
        {"encrypted-r2-utf16.pdf", "Author", u"Jos\u00E9 Mart\u00EDnez"},
        {"encrypted-r3-objstm-blank-start.pdf", "Title", unicodeTitle},
        {"encrypted-r3-objstm-blank-start.pdf", "PageCount", u"2"},
        {"trailing-backslash.pdf", "Title", u"C:\\Temp\\"},
        {"trailing-backslash.pdf", "Author", u"Someone"},
    };
    for (const auto &c : cases) {
        PDFDocument document;
        ASSERT_EQ(document.load(data / c.file), PDFResult::Ok) << c.file;
        EXPECT_EQ(document.values().getString(c.key, u"missing"), c.expected) << c.file;
    }
}

} // namespace
