#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "PDFDocument.h"
#include "TestSupport.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#endif

using namespace vellumtag;
using vellumtag::test::PdfBuilder;
using vellumtag::test::PdfEncryption;
using vellumtag::test::PdfStream;
using vellumtag::test::PdfXrefStream;
using vellumtag::test::TempDir;

namespace {

using Strings = std::map<std::string, std::string>;

const std::string kXmp = "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>"
                         "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF><rdf:Description>"
                         "<dc:title>XMP title</dc:title><pdf:Producer>XMP producer</pdf:Producer>"
                         "</rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";

// Strings in the forms the encrypting tokenizer has to decode: escapes, nested parentheses,
// hexadecimal with blanks, UTF-16BE.
const std::string kInfo =
    "<< /Title (Builder \\(test\\) file)\n/Author <56656C6C756D74 6167205465616D>"
    "/Subject (Nested (parens), \\\\ and \\101 octal)"
    "/Creator <FEFF00C9006C00E9006F006E006F00720065> >>";
const Strings kInfoStrings = {{"Title", "Builder (test) file"},
                              {"Author", "Vellumtag Team"},
                              {"Subject", "Nested (parens), \\ and A octal"},
                              {"Creator", "\xC3\x89l\xC3\xA9onore"}};
// Forms that the reader decodes by rules of its own (a line continuation, an odd number of
// hexadecimal digits): object 8, which only qpdf is asked about.
const std::string kEdges = "<< /Continued (one,\\\n line\r\nend) /Odd<41424> >>";
const Strings kEdgeStrings = {{"Continued", "one, line\nend"}, {"Odd", "AB@"}};

std::string info(const std::string &title) {
    return "<< /Title (" + title + ") /Author <56656C6C756D74 6167205465616D> >>";
}

// The objects of every document: catalog 1, page tree 2 with pages 3 and 4, page content 5,
// XMP 6, (unless left out) information dictionary 7 and the edge cases 8; with object streams,
// the objects that are not streams go into object stream 10. The catalog is written compactly, a
// name holds an escaped parenthesis, and a comment an unbalanced one.
void writeDocument(PdfBuilder &pdf, bool objectStreams, bool withInfo = true) {
    std::vector<std::pair<std::uint32_t, std::string>> objects = {
        {1, "<</Type/Catalog/Pages 2 0 R/Metadata 6 0 R/Lang(en-GB)/Odd#28Name true>>"},
        {2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>"},
        {3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 5 0 R >>"},
        {4, "<< /Type /Page % a comment (unbalanced\n/Parent 2 0 R /MediaBox [0 0 612 792] >>"},
        {8, kEdges},
    };
    if (withInfo)
        objects.emplace_back(7, kInfo);
    if (objectStreams) {
        pdf.objectStream(10, objects);
    } else {
        for (const auto &[number, body] : objects)
            pdf.object(number, body);
    }
    pdf.stream(5, PdfStream{.data = "BT /F1 12 Tf 72 720 Td (Page one) Tj ET", .deflate = true});
    pdf.stream(6, PdfStream{.entries = "/Type /Metadata /Subtype /XML", .data = kXmp});
}

struct Case {
    const char *name;
    std::function<PdfBuilder()> make;
    Strings expected;      // information dictionary entries, in UTF-8
    std::string pageCount; // as the reader and qpdf count them
    bool withInfo = true;  // qpdf is asked for object 7
    // qpdf hashes only the key's first bytes in step c of Algorithm 3 where the standard hashes
    // the whole digest, so the owner password is checked where the two agree: on revision 2
    // and on 128-bit keys.
    bool ownerPassword = false;
};

std::vector<Case> cases() {
    const std::string trailer = "/Root 1 0 R /Info 7 0 R";
    // A document in one section: a cross-reference stream (object 9, or 11 beside object
    // stream 10) where a layout is given, else a table.
    const auto oneSection = [=](bool objectStreams, std::optional<PdfXrefStream> layout,
                                std::optional<PdfEncryption> encryption = {}) {
        return [=] {
            PdfBuilder pdf(layout ? "1.5" : "1.7");
            if (encryption)
                pdf.encrypt(*encryption);
            writeDocument(pdf, objectStreams);
            if (layout)
                return std::move(pdf.xrefStream(objectStreams ? 11 : 9, trailer, *layout));
            return std::move(pdf.xrefTable(trailer));
        };
    };
    const PdfXrefStream predicted{.predictor = true};
    return {
        {"classic table", oneSection(false, {}), kInfoStrings, "2"},
        {"three incremental updates, the second dropping a page",
         [=] {
             PdfBuilder pdf;
             writeDocument(pdf, false);
             pdf.xrefTable(trailer).object(7, info("Revision 2")).xrefTable(trailer);
             pdf.object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>").xrefTable(trailer);
             return std::move(pdf.object(7, info("Revision 4")).xrefTable(trailer));
         },
         {{"Title", "Revision 4"}, {"Author", "Vellumtag Team"}},
         "1"},
        {"cross-reference stream, neither compressed nor predicted",
         oneSection(false, PdfXrefStream{.deflate = false}), kInfoStrings, "2"},
        {"cross-reference stream, compressed", oneSection(false, PdfXrefStream{}), kInfoStrings,
         "2"},
        {"cross-reference stream, predictor, given widths and /Index",
         oneSection(false, PdfXrefStream{.widths = {1, 4, 2}, .predictor = true, .index = true}),
         kInfoStrings, "2"},
        {"object streams", oneSection(true, predicted), kInfoStrings, "2"},
        {"object streams, updated by a second object stream",
         [=] {
             PdfBuilder pdf("1.5");
             writeDocument(pdf, true);
             pdf.xrefStream(11, trailer, predicted);
             pdf.objectStream(12, {{7, info("Revision 2")}, {14, "(unused)"}});
             return std::move(pdf.xrefStream(13, trailer, predicted));
         },
         {{"Title", "Revision 2"}, {"Author", "Vellumtag Team"}},
         "2"},
        {"RC4 revision 2, 40-bit", oneSection(false, {}, {{.objectNumber = 20, .revision = 2}}),
         kInfoStrings, "2", true, true},
        {"RC4 revision 3, 128-bit, object streams",
         oneSection(true, predicted, {{.objectNumber = 20}}), kInfoStrings, "2", true, true},
        {"RC4 revision 3, 56-bit, incremental update",
         [=] {
             PdfBuilder pdf;
             writeDocument(pdf.encrypt({.objectNumber = 20, .keyBits = 56}), false);
             pdf.xrefTable(trailer).object(7, info("Revision (2)"));
             return std::move(pdf.xrefTable(trailer));
         },
         {{"Title", "Revision (2)"}, {"Author", "Vellumtag Team"}},
         "2"},
        // Under /EncryptMetadata false the XMP stream stays clear and the strings do not.
        {"RC4 crypt filter (revision 4), /EncryptMetadata false",
         oneSection(false, {}, {{.objectNumber = 20, .revision = 4, .encryptMetadata = false}}),
         kInfoStrings, "2", true, true},
        {"AES-128 (revision 4)",
         oneSection(false, {},
                    {{.objectNumber = 20, .cipher = PdfEncryption::Cipher::AES128, .revision = 4}}),
         kInfoStrings, "2", true, true},
        {"AES-256 (revision 6), object streams",
         oneSection(true, predicted,
                    {{.objectNumber = 20, .cipher = PdfEncryption::Cipher::AES256, .revision = 6}}),
         kInfoStrings, "2", true, true},
        {"AES-256 (revision 5), /EncryptMetadata false",
         oneSection(false, {},
                    {{.objectNumber = 20,
                      .cipher = PdfEncryption::Cipher::AES256,
                      .revision = 5,
                      .encryptMetadata = false}}),
         kInfoStrings, "2", true, true},
        {"raw bytes, a raw object and a hole",
         [=] {
             PdfBuilder pdf;
             writeDocument(pdf, false);
             pdf.raw("% written as it is\n").rawObject(12, "12 0 obj (odd spacing)   endobj\n");
             pdf.holeStream(13, "/Type /EmbeddedFile", 1 << 20);
             return std::move(pdf.xrefTable(trailer));
         },
         kInfoStrings, "2"},
    };
}

std::string utf8(const std::u16string &text) {
    std::string out;
    for (const char16_t unit : text) {
        if (unit < 0x80) {
            out += static_cast<char>(unit);
        } else if (unit < 0x800) {
            out += static_cast<char>(0xC0 | (unit >> 6));
            out += static_cast<char>(0x80 | (unit & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (unit >> 12));
            out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (unit & 0x3F));
        }
    }
    return out;
}

TEST(PdfBuilder, TheReaderGetsWhatWasWritten) {
    for (const Case &c : cases()) {
        const std::string bytes = c.make().str();
        PDFDocument document;
        ASSERT_EQ(document.load(std::span(reinterpret_cast<const std::uint8_t *>(bytes.data()),
                                          bytes.size())),
                  PDFResult::Ok)
            << c.name;
        const PDFDictionary values = document.values();
        for (const auto &[key, value] : c.expected)
            EXPECT_EQ(utf8(values.getString(key, u"(missing)")), value) << c.name << " " << key;
        EXPECT_EQ(utf8(values.getString("PageCount", u"")), c.pageCount) << c.name;
    }
}

TEST(PdfBuilder, EncryptionLeavesOnlyClearMetadataReadable) {
    for (const bool encryptMetadata : {true, false}) {
        PdfBuilder pdf;
        writeDocument(
            pdf.encrypt({.objectNumber = 20, .revision = 4, .encryptMetadata = encryptMetadata}),
            false);
        const std::string bytes = pdf.xrefTable("/Root 1 0 R /Info 7 0 R").str();
        EXPECT_EQ(bytes.find(kXmp) != std::string::npos, !encryptMetadata);
        EXPECT_EQ(bytes.find("Builder"), std::string::npos);
        EXPECT_EQ(bytes.find("en-GB"), std::string::npos);
    }
}

TEST(PdfBuilder, HolesAreZerosInMemoryAndUnwrittenInFiles) {
    constexpr std::uint64_t kHole = 8 << 20;
    PdfBuilder pdf;
    pdf.object(1, "<< /Type /Catalog >>").holeStream(2, "", kHole);
    // A hole at the very end must still make the file that long.
    pdf.xrefTable("/Root 1 0 R").hole(3);
    const std::string bytes = pdf.str();
    ASSERT_EQ(bytes.size(), pdf.offset());
    EXPECT_EQ(bytes.substr(bytes.size() - 9), std::string("%%EOF\n\0\0\0", 9));
    const std::size_t data = bytes.find("stream\n") + 7;
    EXPECT_EQ(bytes.find_first_not_of('\0', data), data + kHole);

    TempDir dir;
    const auto path = dir.path() / "hole.pdf";
    ASSERT_TRUE(pdf.write(path));
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), bytes);
#ifndef _WIN32
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_LT(static_cast<std::uint64_t>(status.st_blocks) * 512, kHole / 8) << "not sparse";
#endif
    EXPECT_FALSE(pdf.write(dir.path() / "no-such-folder" / "x.pdf"));
}

#ifndef _WIN32

struct Command {
    int status;
    std::string output;
};

Command run(const std::string &command) {
    Command result{-1, {}};
    FILE *pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return result;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        result.output.append(buffer, n);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// The text strings of one object as qpdf's JSON gives them ("/Key": "u:text"), in UTF-8.
Strings qpdfStrings(const std::string &path, std::uint32_t object) {
    const Command json =
        run("qpdf --json=2 --json-key=qpdf --json-object=" + std::to_string(object) + " " + path);
    Strings strings;
    const std::string marker = "\": \"u:";
    for (std::size_t at = json.output.find(marker); at != std::string::npos;
         at = json.output.find(marker, at + 1)) {
        const std::size_t key = json.output.rfind("\"/", at) + 2;
        std::string value;
        for (std::size_t i = at + marker.size(); i < json.output.size(); ++i) {
            char c = json.output[i];
            if (c == '"')
                break;
            if (c == '\\' && i + 1 < json.output.size()) {
                c = json.output[++i];
                if (c == 'u') {
                    const auto unit = std::stoul(json.output.substr(i + 1, 4), nullptr, 16);
                    value += utf8(std::u16string(1, static_cast<char16_t>(unit)));
                    i += 4;
                    continue;
                }
                const std::string_view escapes = "b\bf\fn\nr\rt\t";
                const std::size_t found = escapes.find(c);
                if (found != std::string_view::npos && found % 2 == 0)
                    c = escapes[found + 1];
            }
            value += c;
        }
        strings[json.output.substr(key, at - key)] = value;
    }
    return strings;
}

TEST(PdfBuilder, QpdfReadsWhatWasWritten) {
    if (run("qpdf --version").status != 0)
        GTEST_SKIP() << "qpdf is not installed";
    TempDir dir;
    for (const Case &c : cases()) {
        const std::string path = (dir.path() / "case.pdf").string();
        ASSERT_TRUE(c.make().write(path)) << c.name;
        const Command check = run("qpdf --check " + path);
        EXPECT_EQ(check.status, 0) << c.name << "\n" << check.output;
        EXPECT_EQ(run("qpdf --show-npages " + path).output, c.pageCount + "\n") << c.name;
        EXPECT_EQ(qpdfStrings(path, 1), Strings({{"Lang", "en-GB"}})) << c.name;
        EXPECT_EQ(qpdfStrings(path, 8), kEdgeStrings) << c.name;
        if (c.withInfo) {
            EXPECT_EQ(qpdfStrings(path, 7), c.expected) << c.name;
        }
        if (c.ownerPassword) {
            // /O by Algorithm 3: qpdf recognises the owner password.
            EXPECT_NE(run("qpdf --password=owner --show-encryption " + path)
                          .output.find("Supplied password is owner password"),
                      std::string::npos)
                << c.name;
        }
    }
}

#endif

} // namespace
