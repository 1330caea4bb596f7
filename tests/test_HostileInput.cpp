#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>
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

// Each ends in its result code, in memory and through windows of a few bytes; bench_hostile
// times them.
TEST(HostileInput, HostileFilesEndInTheirResults) {
    for (const auto &file : test::hostileFiles())
        EXPECT_EQ(load(file.bytes), file.expected) << file.what;
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

// The files that only the recovery scan reads, and page trees without /Count, each read by the
// console tool with no more than 256 MiB of address space: a load that needed more would end
// in "Out of memory". bench_hostile times them.
TEST(HostileInput, RecoveryAndPageTreeFilesFitInAQuarterGibibyte) {
    TempDir dir;
    std::vector<std::string> names;
    for (const auto &file : test::hostileFiles()) {
        if (file.what.find("million") == std::string::npos &&
            file.what.find("/Kids") == std::string::npos)
            continue;
        names.push_back(std::to_string(names.size()) + ".pdf");
        dir.write(names.back(), file.bytes);
    }
    ASSERT_GE(names.size(), 5u);
    std::string command =
        "cd '" + dir.path().string() + "' && ulimit -v 262144 && '" + VELLUMTAG_EXE + "'";
    for (const std::string &name : names)
        command += " " + name;
    command += " > out.txt 2> err.txt";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string out = readFile(dir.path() / "out.txt");
    for (const std::string &name : names)
        EXPECT_NE(out.find("Filename: " + name), std::string::npos) << name;
    EXPECT_EQ(out.find("Out of memory"), std::string::npos) << out;
}

// A scan through all of a large file that holds its objects only at its two ends: the console
// tool finds them in bounded memory, as it drops what it has scanned. bench_hostile times it.
TEST(HostileInput, ObjectsAtBothEndsOfAGibibyteAreFoundInBoundedMemory) {
    TempDir dir;
    ASSERT_TRUE(test::objectsAtBothEnds(std::uint64_t{1} << 30).write(dir.path() / "far.pdf"));
    const std::string command =
        "cd '" + dir.path().string() + "' && '" VELLUMTAG_EXE "' far.pdf > out.txt 2> err.txt";
    ASSERT_EQ(std::system(command.c_str()), 0);
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    EXPECT_LT(usage.ru_maxrss, 256 * 1024) << "KiB";
    EXPECT_NE(readFile(dir.path() / "out.txt").find("Title => Far apart"), std::string::npos);
    EXPECT_EQ(readFile(dir.path() / "err.txt"),
              "Warning: damaged file, cross-reference data rebuilt\n");
}
#endif

} // namespace
