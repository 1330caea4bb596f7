#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "metadata/PropertyTable.h"

using namespace vellumtag;

namespace {

std::string text(const Guid &g) {
    char out[40];
    std::snprintf(out, sizeof out, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  static_cast<unsigned>(g.data1), g.data2, g.data3, g.data4[0], g.data4[1],
                  g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    return out;
}

// Against the keys as the shell documents them: a wrong byte would lose a property silently,
// and five of the twelve are missing from mingw's propkey.h to compare with.
TEST(PropertyTable, KeysAndTypesOfTheProperties) {
    const std::string summary = "F29F85E0-4FF9-1068-AB91-08002B27B3D9",
                      document = "D5CDD502-2E9C-101B-9397-08002B2CF9AE",
                      version = "0CEF7D53-FA64-11D1-A203-0000F81FEDEE",
                      media = "64440492-4C8B-11D1-8B70-080036B11A03";
    struct Expected {
        const char *infoKey;
        const std::string &format;
        std::uint32_t id;
        DeclaredType type;
    };
    const Expected expected[] = {
        {"Title", summary, 2, DeclaredType::Text},
        {"Author", summary, 4, DeclaredType::TextList}, // multi-valued
        {"Category", document, 2, DeclaredType::Text},
        {"Comments", summary, 6, DeclaredType::Text},
        {"Company", document, 15, DeclaredType::Text},
        {"Subject", summary, 3, DeclaredType::Text},
        {"Keywords", summary, 5, DeclaredType::TextList},
        {"Producer", summary, 18, DeclaredType::Text},     // System.ApplicationName
        {"Creator", version, 7, DeclaredType::Text},       // System.Software.ProductName
        {"PageCount", summary, 14, DeclaredType::Integer}, // VT_I4, sorted as a number
        {"CreationDate", summary, 12, DeclaredType::Date},
        {"ModDate", summary, 13, DeclaredType::Date},
        {"PDF:Language", document, 28, DeclaredType::Text},     // System.Language
        {"XMP-dc:Rights", media, 11, DeclaredType::Text},       // System.Copyright
        {"XMP-xmp:Rating", media, 9, DeclaredType::StarRating}, // System.Rating, VT_UI4
    };
    ASSERT_EQ(std::size(expected), kPropertyTable.size());
    std::set<std::string_view> names;
    for (std::size_t i = 0; i < kPropertyTable.size(); ++i) {
        const auto &row = kPropertyTable[i];
        EXPECT_EQ(row.infoKey, expected[i].infoKey) << "row " << i;
        EXPECT_EQ(text(row.key.formatId), expected[i].format) << row.infoKey;
        EXPECT_EQ(row.key.propertyId, expected[i].id) << row.infoKey;
        EXPECT_EQ(row.type, expected[i].type) << row.infoKey;
        EXPECT_TRUE(names.insert(row.canonicalName).second) << row.canonicalName;
    }
}

// Windows stores one to five stars as 1, 25, 50, 75 and 99 (what Explorer writes).
TEST(PropertyTable, RatingOnTheShellsScale) {
    const std::pair<std::u16string_view, std::optional<std::uint32_t>> cases[] = {
        {u"1", 1},     {u"2", 25},  {u"3", 50},          {u"4", 75},   {u" 5 ", 99},
        {u"0", {}},    {u"-1", {}}, {u"6", {}},          {u"2.5", {}}, {u"", {}},
        {u"four", {}}, {u"99", {}}, {u"4294967297", {}},
    };
    for (const auto &[text, percent] : cases)
        EXPECT_EQ(RatingPercent(text), percent) << std::string(text.begin(), text.end());
}

TEST(PropertyTable, PdfExtensionInAnyAsciiCase) {
    const std::pair<std::u16string_view, bool> cases[] = {
        {u"C:\\docs\\report.pdf", true},
        {u"report.PDF", true},
        {u"report.PdF", true},
        {u".pdf", true}, // exactly four characters
        {u"pdf", false},
        {u"", false},
        {u"report.pdfx", false}, // a fifth letter after the extension
        {u"report.pd", false},
        {u"report.pdf ", false},
        {u"report_pdf", false},
        {u"report.\uFF30DF", false}, // fullwidth P: only ASCII capitals fold
        {u"\u00C9t\u00E9.Pdf", true},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(HasPdfExtension(cases[i].first), cases[i].second) << "case " << i;
}

TEST(PropertyTable, ListsSplitAtSemicolonsTrimmedWithoutEmptyItems) {
    using Items = std::vector<std::u16string>;
    const std::pair<std::u16string_view, Items> cases[] = {
        {u"A; B", {u"A", u"B"}},
        {u"Ann Smith;Bob Jones ;  Cy", {u"Ann Smith", u"Bob Jones", u"Cy"}},
        {u"one", {u"one"}},
        {u"pdf, metadata, sample", {u"pdf, metadata, sample"}}, // commas don't separate
        {u";;A;;", {u"A"}},
        {u"\tA\r\n;\u00A0B\u3000", {u"A", u"B"}},
        {u"\u5C71\u7530\uFF1B\u7530\u4E2D", {u"\u5C71\u7530\uFF1B\u7530\u4E2D"}}, // fullwidth ;
        {u"", {}},
        {u" ; ; ", {}},
    };
    for (const auto &[text, items] : cases)
        EXPECT_EQ(SplitList(text), items) << std::string(text.begin(), text.end());
}

TEST(PropertyTable, CountsAreDecimalAndFitIn32Bits) {
    const std::pair<std::u16string_view, std::optional<std::int32_t>> cases[] = {
        {u"0", 0},
        {u"1", 1},
        {u" 12 ", 12},
        {u"007", 7},
        {u"2147483647", 2147483647},
        {u"2147483648", std::nullopt},
        {u"99999999999999999999", std::nullopt},
        {u"-1", std::nullopt},
        {u"+1", std::nullopt},
        {u"1e3", std::nullopt},
        {u"12 pages", std::nullopt},
        {u"\uFF11", std::nullopt}, // fullwidth digit
        {u"", std::nullopt},
        {u"  ", std::nullopt},
    };
    for (const auto &[text, count] : cases)
        EXPECT_EQ(ParseCount(text), count) << std::string(text.begin(), text.end());
}

} // namespace
