#include <gtest/gtest.h>

#include <string>

#include "PDFDocument.h"
#include "TestSupport.h"

using namespace vellumtag;
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

} // namespace
