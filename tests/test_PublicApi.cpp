#include <gtest/gtest.h>

#include <cstddef>
#include <fstream>
#include <iterator>
#include <map>
#include <span>
#include <string>

#include "TestSupport.h"
#include "vellumtag/vellumtag.h"

using vellumtag::test::PdfBuilder;
using vellumtag::test::TempDir;

namespace {

std::string withInfo(const std::string &entries) {
    return PdfBuilder()
        .object(1, "<< /Type /Catalog >>")
        .object(2, "<< " + entries + " >>")
        .build("/Root 1 0 R /Info 2 0 R");
}

std::string fileBytes(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The library's result for a file and for its bytes alike: the code and message the console
// tool prints, and values as valid UTF-8 in byte order of the keys, where a value's unpaired
// surrogate and a key's byte that is not UTF-8 read as U+FFFD.
TEST(PublicApi, ResultOfAFileAndOfItsBytes) {
    const std::string kReplacement = "\xEF\xBF\xBD";
    struct Case {
        const char *name;
        std::string bytes;
        int code;
        std::string message;
        std::map<std::string, std::string> values;
    };
    const Case cases[] = {
        {"text.pdf",
         withInfo("/Title <FEFF0041D800> /Subject <FEFFDC000042> /Author <FEFFD83DDCDA> "
                  "/Caf\xE9 (x) /B (b)"),
         0,
         "OK",
         {{"Author", "\xF0\x9F\x93\x9A"},
          {"B", "b"},
          {"Caf" + kReplacement, "x"},
          {"Subject", kReplacement + "B"},
          {"Title", "A" + kReplacement}}},
        {"plain.txt", "not a pdf", 101, "Not a PDF file", {}},
        {"user-password.pdf",
         fileBytes(VELLUMTAG_SOURCE_DIR "/tests/data/encrypted-r6-user-password.pdf"),
         106,
         "PDF metadata encrypted with unsupported encryption or non-empty user password",
         {}},
    };
    TempDir dir;
    for (const Case &c : cases) {
        const auto path = dir.write(c.name, c.bytes);
        const auto bytes = std::as_bytes(std::span(c.bytes.data(), c.bytes.size()));
        for (const vellumtag::ReadResult &result :
             {vellumtag::read(path), vellumtag::read(bytes)}) {
            EXPECT_EQ(result.code, c.code) << c.name;
            EXPECT_EQ(result.ok(), c.code == 0) << c.name;
            EXPECT_EQ(result.message, c.message) << c.name;
            EXPECT_EQ(result.values, c.values) << c.name;
        }
    }
    const vellumtag::ReadResult missing = vellumtag::read(dir.path() / "missing.pdf");
    EXPECT_EQ(missing.code, 100);
    EXPECT_EQ(missing.message, "File does not exists or can't be read");
    EXPECT_TRUE(missing.values.empty());
}

} // namespace
