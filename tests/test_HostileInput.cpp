#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <zlib.h>

#include "PDFDocument.h"
#include "TestSupport.h"
#include "objects/PDFObject.h"
#include "objects/StreamBudget.h"

using namespace vellumtag;
using vellumtag::test::PdfBuilder;
using vellumtag::test::TempDir;

namespace {

const std::filesystem::path kSource(VELLUMTAG_SOURCE_DIR);

std::string readFile(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Loads the bytes from memory and, for files small enough, through windows of a few bytes
// too; both must end in the same result code.
PDFResult load(const std::string &bytes) {
    PDFDocument document;
    const PDFResult result = document.load(std::span<const std::uint8_t>(
        reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size()));
    if (bytes.size() <= 4096) {
        test::PiecewiseSource pieces(bytes, 3);
        EXPECT_EQ(PDFDocument().load(pieces), result);
    }
    return result;
}

bool isResultCode(PDFResult result) {
    const auto code = static_cast<std::int32_t>(result);
    return code == 0 || (code >= 100 && code <= 108) || code == 199;
}

// A file whose objects 1 (catalog) and 2 (information dictionary) lie in object stream 5,
// listed by a cross-reference stream without predictor; objectStream is its stream part.
std::string objectStreamFile(const std::string &objectStreamDictionary,
                             const std::string &objectStreamData) {
    std::string file = "%PDF-1.5\n";
    const std::size_t streamOffset = file.size();
    file += "5 0 obj\n<< /Type /ObjStm " + objectStreamDictionary + " /Length " +
            std::to_string(objectStreamData.size()) + " >>\nstream\n" + objectStreamData +
            "\nendstream\nendobj\n";
    const std::size_t xrefOffset = file.size();
    std::string rows;
    auto row = [&](int type, std::size_t field, int index) {
        rows += static_cast<char>(type);
        rows += static_cast<char>((field >> 24) & 0xFF);
        rows += static_cast<char>((field >> 16) & 0xFF);
        rows += static_cast<char>((field >> 8) & 0xFF);
        rows += static_cast<char>(field & 0xFF);
        rows += static_cast<char>(index);
    };
    row(2, 5, 0);
    row(2, 5, 1);
    row(1, streamOffset, 0);
    file += "9 0 obj\n<< /Type /XRef /W [1 4 1] /Index [1 2 5 1] /Root 1 0 R /Info 2 0 R "
            "/Length " +
            std::to_string(rows.size()) + " >>\nstream\n" + rows + "\nendstream\nendobj\n";
    file += "startxref\n" + std::to_string(xrefOffset) + "\n%%EOF\n";
    return file;
}

TEST(HostileInput, EveryTruncationOfRealFilesEndsInAResultCode) {
    for (const char *name : {"samples/hello.pdf", "samples/xmp-only.pdf",
                             "tests/data/encrypted-r3.pdf", "tests/data/encrypted-r2.pdf"}) {
        const std::string whole = readFile(kSource / name);
        ASSERT_FALSE(whole.empty()) << name;
        for (std::size_t length = 0; length <= whole.size(); ++length)
            EXPECT_TRUE(isResultCode(load(whole.substr(0, length))))
                << name << " cut at " << length;
        EXPECT_EQ(load(whole), PDFResult::Ok) << name;
    }
}

TEST(HostileInput, FlippedBytesInTheXrefAndTrailer) {
    for (const char *name : {"samples/updated.pdf", "tests/data/encrypted-r3.pdf"}) {
        const std::string whole = readFile(kSource / name);
        const std::size_t xref = whole.rfind("xref");
        ASSERT_NE(xref, std::string::npos);
        for (std::size_t at = xref; at < whole.size(); ++at) {
            for (char replacement : {'\0', '\xFF', '0', '9', ' ', '<', '/', '('}) {
                std::string damaged = whole;
                damaged[at] = replacement;
                EXPECT_TRUE(isResultCode(load(damaged))) << name << " at " << at;
            }
        }
    }
}

TEST(HostileInput, PrevLoopsEnd) {
    // Offsets are written with ten digits, so that every section's length is known up front.
    auto section = [](int object, std::size_t prev, const char *extra) {
        char text[128];
        std::snprintf(text, sizeof text,
                      "xref\n%d 1\n0000000009 00000 n \ntrailer\n<< /Prev %010zu %s >>\n", object,
                      prev, extra);
        return std::string(text);
    };
    const std::string head = "%PDF-1.4\n";
    const std::size_t a = head.size();
    const std::size_t b = a + section(0, 0, "").size();
    // Two sections that name each other, and the newer one names an /Info that is nowhere.
    const std::string pair = head + section(0, b, "") + section(1, a, "/Info 7 0 R") +
                             "startxref\n" + std::to_string(b) + "\n%%EOF\n";
    EXPECT_EQ(load(pair), PDFResult::Ok) << "object 7 is simply missing";

    // A section that is its own /Prev and names neither /Root nor /Info.
    const std::string self =
        head + section(0, a, "") + "startxref\n" + std::to_string(a) + "\n%%EOF\n";
    EXPECT_EQ(load(self), PDFResult::XrefNotFound);
}

TEST(HostileInput, FlateBombsStopAtTheStreamLimit) {
    // About 1 MiB that inflates to 1 GiB, as the metadata stream and inside an object stream.
    const std::string bomb = test::zeroBomb(1024);
    ASSERT_LT(bomb.size(), std::size_t{2} << 20);
    const std::string metadata =
        PdfBuilder()
            .object(1, "<< /Type /Catalog /Metadata 3 0 R >>")
            .stream(3,
                    "<< /Type /Metadata /Subtype /XML /Filter /FlateDecode /Length " +
                        std::to_string(bomb.size()) + " >>",
                    bomb)
            .object(4, "<< /Title (Survives) >>")
            .build("/Root 1 0 R /Info 4 0 R");
    EXPECT_EQ(load(metadata), PDFResult::Ok);
    EXPECT_EQ(load(objectStreamFile("/N 2 /First 8 /Filter /FlateDecode", bomb)), PDFResult::Ok)
        << "the catalog and /Info are simply missing";
}

TEST(HostileInput, DeepNestingAndHugeNumbers) {
    const std::string nested =
        PdfBuilder()
            .object(1, "<< /Type /Catalog >>")
            .object(2, "<< /Title (Deep) /X " + std::string(200000, '<') + " >>")
            .build("/Root 1 0 R /Info 2 0 R");
    EXPECT_EQ(load(nested), PDFResult::Ok);

    struct Case {
        const char *what;
        std::string bytes;
        PDFResult expected;
    };
    const Case cases[] = {
        {"startxref far beyond the file", "%PDF-1.4\nstartxref\n99999999999999999999999\n%%EOF\n",
         PDFResult::XrefNotFound},
        {"startxref beyond the file", "%PDF-1.4\nstartxref\n4294967296\n%%EOF\n",
         PDFResult::BadValue},
        {"offsets beyond the file",
         "%PDF-1.4\nxref\n0 2\n4294967295 00000 n \n9999999999 00000 n \ntrailer\n"
         "<< /Root 0 0 R /Info 1 0 R >>\nstartxref\n9\n%%EOF\n",
         PDFResult::Ok},
        {"huge /N and /First", objectStreamFile("/N 4000000000 /First 4000000000", "1 0 2 5 x"),
         PDFResult::Ok},
        {"object stream inside itself", objectStreamFile("/N 1 /First 4", "5 0 << >>"),
         PDFResult::Ok},
        {"a /Length that names its own object",
         PdfBuilder()
             .object(1, "<< /Type /Catalog /Metadata 3 0 R >>")
             .stream(3, "<< /Type /Metadata /Subtype /XML /Length 3 0 R >>", "abc")
             .build("/Root 1 0 R"),
         PDFResult::Ok},
        {"references in a cycle",
         PdfBuilder()
             .object(1, "<< /Type /Catalog /Pages 2 0 R >>")
             .object(2, "<< /Count 2 0 R /Kids 2 0 R >>")
             .object(4, "<< /Title 4 0 R /Author 5 0 R >>")
             .object(5, "4 0 R")
             .build("/Root 1 0 R /Info 4 0 R"),
         PDFResult::Ok},
    };
    for (const auto &c : cases)
        EXPECT_EQ(load(c.bytes), c.expected) << c.what;
}

TEST(HostileInput, TheDocumentStreamBudgetIsShared) {
    // Streams of one document draw on one budget: once it is spent, decoding fails with 107.
    const std::string data = test::zeroBomb(1);
    const std::string object = "7 0 obj\n<< /Filter /FlateDecode /Length " +
                               std::to_string(data.size()) + " >>\nstream\n" + data +
                               "\nendstream\nendobj\n";
    test::ParserOver over(object);
    StreamBudget budget((std::size_t{5} << 20) / 2);
    const ObjectContext context{over.parser, nullptr, nullptr, &budget};
    PDFObject first, second, third;
    EXPECT_EQ(first.read(context, 0), PDFResult::Ok);
    EXPECT_EQ(second.read(context, 0), PDFResult::Ok);
    EXPECT_EQ(budget.left(), std::size_t{1} << 19);
    EXPECT_EQ(third.read(context, 0), PDFResult::DecompressionFailed);
    EXPECT_EQ(StreamBudget().left(), limits::kMaxDocumentStreamBytes);
}

#ifndef VELLUMTAG_SANITIZED
// Peak memory of the console tool over the hostile files: the files plus the limits, and an
// allocation failure is reported for that file while the next one is still read.
TEST(HostileInput, ConsoleToolMemoryStaysBounded) {
    TempDir dir;
    const std::string bomb = test::zeroBomb(1024);
    dir.write("bomb.pdf",
              PdfBuilder()
                  .object(1, "<< /Type /Catalog /Metadata 3 0 R >>")
                  .stream(3,
                          "<< /Type /Metadata /Subtype /XML /Filter /FlateDecode /Length " +
                              std::to_string(bomb.size()) + " >>",
                          bomb)
                  .build("/Root 1 0 R"));
    const std::string command = "cd '" + dir.path().string() +
                                "' && '" VELLUMTAG_EXE "' bomb.pdf '" +
                                (kSource / "samples/hello.pdf").string() + "' > out.txt";
    ASSERT_EQ(std::system(command.c_str()), 0);
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    EXPECT_LT(usage.ru_maxrss, 200 * 1024) << "KiB";

    // With 40 MiB of address space the bomb's buffers cannot be had.
    const std::string limited = "cd '" + dir.path().string() + "' && ulimit -v 40000 && '" +
                                VELLUMTAG_EXE + "' bomb.pdf '" +
                                (kSource / "samples/hello.pdf").string() + "' > limited.txt";
    ASSERT_EQ(std::system(limited.c_str()), 0);
    const std::string out = readFile(dir.path() / "limited.txt");
    EXPECT_NE(out.find("Filename: bomb.pdf"), std::string::npos) << out;
    EXPECT_NE(out.find("Title => Hello, Vellumtag"), std::string::npos) << out;
}
#endif

} // namespace
