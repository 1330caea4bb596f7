#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>

#include "PDFDocument.h"
#include "TestSupport.h"

using namespace vellumtag;
using vellumtag::test::deflated;
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
        PDFResult strict;
        PDFResult tolerant; // where no scan finds anything, the strict path's code stands
    };
    const Case cases[] = {
        {"empty.pdf", "", PDFResult::FileNotReadable, PDFResult::FileNotReadable},
        {"five.pdf", "%PDF-", PDFResult::NotPdf, PDFResult::NotPdf},
        {"bom.pdf", "\xEF\xBB\xBF%PDF-1.4\n" + tail, PDFResult::NotPdf, PDFResult::Unspecified},
        {"blank.pdf", " %PDF-1.4\n" + tail, PDFResult::NotPdf, PDFResult::Unspecified},
        {"lower.pdf", "%pdf-1.4\n" + tail, PDFResult::NotPdf, PDFResult::NotPdf},
        {"text.txt", "just some text\n", PDFResult::NotPdf, PDFResult::NotPdf},
        {"late.pdf", std::string(1020, ' ') + "%PDF-1.4\n" + tail, PDFResult::NotPdf,
         PDFResult::NotPdf},
        {"noxref.pdf", kMinimalHead + "%%EOF\n", PDFResult::XrefNotFound, PDFResult::XrefNotFound},
        {"far.pdf", kMinimalHead + "startxref\n9\n" + std::string(60, '%'), PDFResult::XrefNotFound,
         PDFResult::Unspecified},
        {"nonumber.pdf", kMinimalHead + "startxref\n%%EOF\n", PDFResult::XrefNotFound,
         PDFResult::XrefNotFound},
    };
    for (const auto &c : cases) {
        for (const bool strict : {true, false}) {
            PDFDocument document;
            document.setStrict(strict);
            EXPECT_EQ(document.load(dir.write(c.name, c.bytes)), strict ? c.strict : c.tolerant)
                << c.name << (strict ? " strict" : "");
            EXPECT_TRUE(document.values().empty()) << c.name;
            EXPECT_FALSE(document.recovered()) << c.name;
        }
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

TEST(PDFDocument, XmpInElementAndAttributeForm) {
    const std::string xmp = xmpPacket("<dc:title>Only XMP</dc:title>");
    const auto loaded =
        loadBytes(PdfBuilder()
                      .object(1, "<< /Type /Catalog /Metadata 5 0 R >>")
                      .object(5, metadataStream(xmpPacket("<rdf:Description pdf:Producer=\"attr\"/>"
                                                          "<dc:title>Only XMP</dc:title>")))
                      .build("/Root 1 0 R"));
    ASSERT_EQ(loaded.result, PDFResult::Ok);
    EXPECT_EQ(loaded.values.getString("Title", u""), u"Only XMP");
    EXPECT_EQ(loaded.values.getString("Producer", u""), u"attr");
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
        // Without /Count the leaves are counted: here there are none.
        {"<< /Title (t) >>", "<< /Type /Pages >>", u"0"},
        {"<< /Title (t) >>", "<< /Type /Pages /Count 9 0 R >>", u"33"},
        // Only an integer object is a count (ISO 32000-1, 7.7.3.2); else the leaves are.
        {"<< /Title (t) >>", "<< /Type /Pages /Kids [3 0 R] /Count (9) >>", u"1"},
        {"<< /Title (t) >>", "<< /Type /Pages /Kids [3 0 R] /Count 9.0 >>", u"1"},
        {"<< /Title (t) >>", "<< /Type /Pages /Kids [3 0 R] /Count 8 0 R >>", u"1"},
        {"<< /Title (t) >>", "<< /Type /Pages /Kids [3 0 R] /Count /9 >>", u"1"},
    };
    for (const auto &c : cases) {
        const auto loaded = loadBytes(PdfBuilder()
                                          .object(1, "<< /Type /Catalog /Pages 2 0 R >>")
                                          .object(2, c.pages)
                                          .object(3, "<< /Type /Page /Parent 2 0 R >>")
                                          .object(4, c.info)
                                          .object(8, "(33)")
                                          .object(9, "33")
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
    EXPECT_EQ(v.getString("Subject", u""), u"\u0141") << "a referenced string is text too";
    EXPECT_EQ(*v.find("Author"), (PDFValue{u"99 0 R", true}));
    EXPECT_EQ(*v.find("Keywords"), (PDFValue{u"", false}));
    EXPECT_EQ(v.getString("Custom", u""), u"custom value");
    EXPECT_EQ(v.getString("Trapped", u"missing"), u"False");
    EXPECT_FALSE(v.contains("False")) << "a name is a value, not the next key";
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
        PDFResult strict;
        bool recovered; // otherwise the tolerant path gives what the strict one does
    };
    // The scan finds the catalog by its /Type wherever the sections fail.
    const Case cases[] = {
        {file("", PastTheEnd), PDFResult::BadValue, true},
        {file("", InTheSectionsTail), PDFResult::BadValue, true},
        {file(loop, AtTheSection), PDFResult::XrefNotFound, true},
        {file(named, AtTheSection), PDFResult::Ok, false},
        {file("garbage\n", InTheHeader), PDFResult::Unspecified, true},
    };
    for (const auto &c : cases) {
        for (const bool strict : {true, false}) {
            PDFDocument document;
            document.setStrict(strict);
            const PDFResult result = document.load(
                std::span(reinterpret_cast<const std::uint8_t *>(c.bytes.data()), c.bytes.size()));
            const bool recovered = !strict && c.recovered;
            EXPECT_EQ(result, recovered ? PDFResult::Ok : c.strict) << c.bytes;
            EXPECT_EQ(document.recovered(), recovered) << c.bytes;
            EXPECT_TRUE(document.values().empty());
        }
    }
}

// A document in the shapes that damage takes: catalog 1 with XMP 5 and page tree 3 of two
// pages, information dictionary 2; objects 1 to 4 in object stream 10 when asked, optionally
// RC4-encrypted.
std::string damageableDocument(bool objectStreams, bool encrypted = false) {
    PdfBuilder pdf(objectStreams ? "1.5" : "1.4");
    if (encrypted)
        pdf.encrypt({.objectNumber = 20});
    const std::vector<std::pair<std::uint32_t, std::string>> objects = {
        {1, "<< /Type /Catalog /Pages 3 0 R /Metadata 5 0 R >>"},
        {2, "<< /Title (Info title) /Author (Info author) >>"},
        {3, "<< /Type /Pages /Kids [4 0 R 6 0 R] /Count 2 >>"},
        {4, "<< /Type /Page /Parent 3 0 R >>"},
    };
    if (objectStreams)
        pdf.objectStream(10, objects);
    else
        for (const auto &[number, body] : objects)
            pdf.object(number, body);
    pdf.object(6, "<< /Type /Page /Parent 3 0 R >>");
    pdf.stream(5, {.entries = "/Type /Metadata /Subtype /XML",
                   .data = xmpPacket("<dc:title>XMP title</dc:title><pdf:Producer>XMP producer"
                                     "</pdf:Producer>")});
    if (objectStreams)
        return pdf.xrefStream(11, "/Root 1 0 R /Info 2 0 R").str();
    return pdf.build("/Root 1 0 R /Info 2 0 R");
}

// The pieces one after the other; built by appending, as GCC 12 reports a false -Wrestrict for
// some concatenations of temporaries at -O3.
std::string joined(std::initializer_list<std::string_view> pieces) {
    std::string out;
    for (const std::string_view piece : pieces)
        out.append(piece);
    return out;
}

std::string replaceLast(std::string bytes, const std::string &what, const std::string &with) {
    const std::size_t at = bytes.rfind(what);
    return at == std::string::npos ? bytes : bytes.replace(at, what.size(), with);
}

std::string startxrefZeroed(const std::string &bytes) {
    const std::size_t at = bytes.rfind("startxref\n") + 10;
    const std::string_view view(bytes);
    return joined({view.substr(0, at), "0", view.substr(bytes.find('\n', at))});
}

std::string cutAfterLastObject(const std::string &bytes) {
    return bytes.substr(0, bytes.rfind("endobj") + 7);
}

// The entry of object 2 in the last table made to point at object 1.
std::string infoEntryWrong(const std::string &bytes) {
    const std::size_t table = bytes.rfind("xref\n0 ");
    const std::size_t first = bytes.find("0000000000 65535 f", table);
    std::string damaged = bytes;
    damaged.replace(first + 2 * 20, 10, damaged.substr(first + 20, 10));
    return damaged;
}

std::string xrefStreamDeleted(const std::string &bytes) {
    const std::size_t start = bytes.rfind("11 0 obj");
    return joined({std::string_view(bytes).substr(0, start),
                   std::string_view(bytes).substr(bytes.find("endobj", start) + 7)});
}

// Damaged files read as their intact originals, or, where no trailer names /Info any longer,
// as far as a scan reaches: the catalog's XMP and the page count. Strict mode gives the codes
// of a reading by the letter of ISO 32000-1.
TEST(PDFDocument, DamagedFilesReadAsTheirIntactOriginals) {
    const std::map<std::string, std::u16string> everything = {{"Title", u"Info title"},
                                                              {"Author", u"Info author"},
                                                              {"Producer", u"XMP producer"},
                                                              {"PageCount", u"2"}};
    const std::map<std::string, std::u16string> scanned = {
        {"Title", u"XMP title"}, {"Producer", u"XMP producer"}, {"PageCount", u"2"}};
    const std::string classic = damageableDocument(false);
    const std::string streams = damageableDocument(true);
    const std::string encrypted = damageableDocument(false, true);
    struct Case {
        const char *what;
        std::string bytes;
        const std::map<std::string, std::u16string> &expected;
        bool recovered;
        PDFResult strict; // Ok: strict mode reads the file, maybe with less
    };
    const Case cases[] = {
        {"intact", classic, everything, false, PDFResult::Ok},
        {"intact, object streams", streams, everything, false, PDFResult::Ok},
        {"intact, encrypted", encrypted, everything, false, PDFResult::Ok},
        {"a preamble", joined({"GET /a.pdf\r\n\r\n", classic}), everything, false,
         PDFResult::NotPdf},
        {"a preamble, object streams", joined({std::string(700, '\n'), streams}), everything, false,
         PDFResult::NotPdf},
        {"a trailing block", joined({classic, std::string(900, 'x')}), everything, false,
         PDFResult::XrefNotFound},
        {"startxref far from the end", joined({classic, std::string(1100, 'x')}), everything, true,
         PDFResult::XrefNotFound},
        {"startxref 0", startxrefZeroed(classic), everything, true, PDFResult::Unspecified},
        {"startxref 0, object streams", startxrefZeroed(streams), everything, true,
         PDFResult::Unspecified},
        {"startxref 0, encrypted", startxrefZeroed(encrypted), everything, true,
         PDFResult::Unspecified},
        {"startxref beyond the end", replaceLast(classic, "startxref\n", "startxref\n9"),
         everything, true, PDFResult::BadValue},
        {"no table where startxref points", replaceLast(classic, "xref\n0 ", "xre \n0 "),
         everything, true, PDFResult::Unspecified},
        {"the wrong object at the Info entry", infoEntryWrong(classic), everything, true,
         PDFResult::Ok},
        {"cut after the last object", cutAfterLastObject(classic), scanned, true,
         PDFResult::XrefNotFound},
        {"cut after the last object, encrypted",
         cutAfterLastObject(encrypted),
         {},
         false,
         PDFResult::XrefNotFound},
        {"the cross-reference stream deleted", xrefStreamDeleted(streams), scanned, true,
         PDFResult::Unspecified},
    };
    for (const auto &c : cases) {
        for (const bool strict : {false, true}) {
            PDFDocument document;
            document.setStrict(strict);
            const PDFResult result = document.load(
                std::span(reinterpret_cast<const std::uint8_t *>(c.bytes.data()), c.bytes.size()));
            if (strict) {
                EXPECT_EQ(result, c.strict) << c.what << " (strict)";
                EXPECT_FALSE(document.recovered()) << c.what;
                continue;
            }
            EXPECT_EQ(document.recovered(), c.recovered) << c.what;
            // Without a trailer the encryption dictionary of an encrypted file cannot be
            // named, and its objects cannot be decrypted: the strict path's code stands.
            EXPECT_EQ(result, c.expected.empty() ? c.strict : PDFResult::Ok) << c.what;
            std::map<std::string, std::u16string> values;
            for (const auto &[key, value] : document.values())
                values[key] = value.text;
            EXPECT_EQ(values, c.expected) << c.what;
        }
    }
}

TEST(PDFDocument, ALongChainOfUpdatesIsReadByTheScan) {
    PdfBuilder pdf;
    // Only the oldest section's trailer names the catalog and the information dictionary:
    // beyond the section limit.
    pdf.object(1, "<< /Type /Catalog /Pages 3 0 R >>")
        .object(2, "<< /Title (Oldest trailer names it) >>")
        .object(3, "<< /Type /Pages /Count 1 >>")
        .xrefTable("/Root 1 0 R /Info 2 0 R");
    for (std::uint32_t i = 0; i < limits::kMaxSections; ++i)
        pdf.object(4 + i, "(filler)").xrefTable("");
    const std::string bytes = pdf.str();
    const auto read = [&](bool strict) {
        PDFDocument document;
        document.setStrict(strict);
        const PDFResult result = document.load(
            std::span(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size()));
        return std::tuple(result, document.recovered(), document.values());
    };
    EXPECT_EQ(std::get<0>(read(true)), PDFResult::XrefNotFound);
    const auto [result, recovered, values] = read(false);
    EXPECT_EQ(result, PDFResult::Ok);
    EXPECT_TRUE(recovered);
    EXPECT_EQ(values.getString("Title", u""), u"Oldest trailer names it");
    EXPECT_EQ(values.getString("PageCount", u""), u"1");
}

// What a file says in ways ISO 32000-1 does not foresee is read in both modes, and is no
// damage: an information dictionary or a page tree root written in place.
TEST(PDFDocument, DictionariesWrittenInPlace) {
    struct Case {
        const char *catalog;
        const char *trailer;
        std::map<std::string, std::u16string> expected;
    };
    const Case cases[] = {
        {"<< /Type /Catalog >>",
         "/Root 1 0 R /Info << /Title (In place) /Author 7 0 R >>",
         {{"Title", u"In place"}, {"Author", u"Referenced"}}},
        {"<< /Type /Catalog /Pages << /Type /Pages /Count 3 >> >>",
         "/Root 1 0 R",
         {{"PageCount", u"3"}}},
        {"<< /Type /Catalog /Pages << /Type /Pages /Kids [8 0 R] >> >>",
         "/Root 1 0 R",
         {{"PageCount", u"1"}}},
    };
    for (const auto &c : cases) {
        for (const bool strict : {false, true}) {
            PDFDocument document;
            document.setStrict(strict);
            const std::string bytes = PdfBuilder()
                                          .object(1, c.catalog)
                                          .object(7, "(Referenced)")
                                          .object(8, "<< /Type /Page >>")
                                          .build(c.trailer);
            ASSERT_EQ(document.load(std::span(reinterpret_cast<const std::uint8_t *>(bytes.data()),
                                              bytes.size())),
                      PDFResult::Ok);
            EXPECT_FALSE(document.recovered());
            std::map<std::string, std::u16string> values;
            for (const auto &[key, value] : document.values())
                values[key] = value.text;
            EXPECT_EQ(values, c.expected) << c.catalog << c.trailer;
        }
    }
}

// Shapes of real files that once lost entries or whole files, each with what it must give.
TEST(PDFDocument, ShapesThatOnceLostEntries) {
    const std::string pages = "<< /Type /Pages /Count 1 /Kids [3 0 R] >>";
    const std::string page = "<< /Type /Page /Parent 2 0 R >>";
    const std::string info = "/Info << /Title (Kept) >>";
    // Document with the catalog, the page tree root and one page in place.
    const auto plain = [&](const std::string &catalog) {
        return PdfBuilder()
            .object(1, catalog)
            .object(2, pages)
            .object(3, page)
            .build("/Root 1 0 R " + info);
    };
    // pdfTeX writes a "% N 0 obj" comment before each object of an object stream; the offsets
    // of the header point at the comments.
    const auto pdftexObjectStream = [&] {
        const std::string objects = "% 1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\n"
                                    "% 2 0 obj\n" +
                                    pages + "\n";
        const std::string header = "1 0 2 " + std::to_string(objects.find("% 2")) + "\n";
        return PdfBuilder("1.5")
            .stream(5,
                    "<< /Type /ObjStm /N 2 /First " + std::to_string(header.size()) + " /Length " +
                        std::to_string(header.size() + objects.size()) + " >>",
                    header + objects)
            .inObjectStream(1, 5, 0)
            .inObjectStream(2, 5, 1)
            .object(3, page)
            .xrefStream(9, "/Root 1 0 R " + info, {.deflate = false})
            .str();
    };
    // The metadata stream's filter abbreviated as for inline images (ISO 32000-1, Table 94).
    const auto abbreviatedFilter = [&] {
        const std::string data =
            deflated(xmpPacket("<dc:title><rdf:Alt><rdf:li>Abbreviated</rdf:li></rdf:Alt>"
                               "</dc:title>"));
        return PdfBuilder()
            .object(1, "<< /Type /Catalog /Pages 2 0 R /Metadata 4 0 R >>")
            .object(2, pages)
            .object(3, page)
            .stream(4,
                    "<< /Type /Metadata /Subtype /XML /Filter /Fl /Length " +
                        std::to_string(data.size()) + " >>",
                    data)
            .build("/Root 1 0 R");
    };
    const auto withHeader = [&](const std::string &header) {
        return PdfBuilder::withoutHeader()
            .raw(header)
            .object(1, "<< /Type /Catalog /Pages 2 0 R >>")
            .object(2, pages)
            .object(3, page)
            .build("/Root 1 0 R " + info);
    };
    struct Case {
        const char *name;
        std::string bytes;
        PDFResult result;
        std::map<std::string, std::u16string> expected;
        bool headerMissing = false;
    };
    const std::map<std::string, std::u16string> both = {{"Title", u"Kept"}, {"PageCount", u"1"}};
    const Case cases[] = {
        {"string delimiters nested deep in the catalog",
         plain("<< /Type /Catalog /A << /B [0 << /P (x>\\t]y) >> ] >> /Pages 2 0 R >>"),
         PDFResult::Ok, both},
        {"comment after the object header",
         PdfBuilder()
             .rawObject(1, "1 0 obj % comment\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n")
             .object(2, pages)
             .object(3, page)
             .build("/Root 1 0 R " + info),
         PDFResult::Ok, both},
        {"comments in an object stream", pdftexObjectStream(), PDFResult::Ok, both},
        {"abbreviated filter",
         abbreviatedFilter(),
         PDFResult::Ok,
         {{"Title", u"Abbreviated"}, {"PageCount", u"1"}}},
        {"header without a dash", withHeader("%PDF1.7\n"), PDFResult::Ok, both, true},
        {"header with a byte replaced",
         withHeader("%PDF\xAD"
                    "1.7\n"),
         PDFResult::Ok, both, true},
        {"no header at all", withHeader("\n"), PDFResult::Ok, both, true},
        {"no header and no structure",
         "%PDF\n1 0 obj << /Title (x) >> endobj\n",
         PDFResult::NotPdf,
         {}},
    };
    TempDir dir;
    for (const Case &c : cases) {
        for (const bool strict : {false, true}) {
            PDFDocument document;
            document.setStrict(strict);
            const PDFResult result = document.load(dir.write("doc.pdf", c.bytes));
            // Strict mode reads a file only from its header.
            const bool headerless = c.headerMissing || c.result == PDFResult::NotPdf;
            EXPECT_EQ(result, strict && headerless ? PDFResult::NotPdf : c.result)
                << c.name << (strict ? " strict" : "");
            if (result != PDFResult::Ok)
                continue;
            std::map<std::string, std::u16string> values;
            for (const auto &[key, value] : document.values())
                values[key] = value.text;
            EXPECT_EQ(values, c.expected) << c.name;
            EXPECT_EQ(document.headerMissing(), c.headerMissing) << c.name;
        }
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
