#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "xref/XrefRecovery.h"

using namespace vellumtag;
using vellumtag::test::ParserOver;
using vellumtag::test::PdfBuilder;

namespace {

// The scan of the bytes, in memory and through windows of a few bytes; both must agree.
XrefRecovery::Result scan(const std::string &bytes) {
    XrefRecovery::Result first;
    for (const std::size_t chunk : test::kChunkSizes) {
        ParserOver over(bytes, chunk);
        XrefRecovery::Result result = XrefRecovery::scan(over.parser, 0);
        if (chunk == 0) {
            first = std::move(result);
            continue;
        }
        EXPECT_EQ(result.objects.size(), first.objects.size()) << chunk;
        for (std::size_t i = 0; i < std::min(result.objects.size(), first.objects.size()); ++i) {
            EXPECT_EQ(result.objects[i].first, first.objects[i].first) << chunk;
            EXPECT_EQ(result.objects[i].second.offset, first.objects[i].second.offset) << chunk;
        }
        EXPECT_EQ(result.trailer, first.trailer) << chunk;
        EXPECT_EQ(result.objectStreams, first.objectStreams) << chunk;
        EXPECT_EQ(result.catalogs, first.catalogs) << chunk;
    }
    return first;
}

// (number, offset) of what the scan entered.
std::vector<std::pair<std::uint32_t, std::uint64_t>> entries(const XrefRecovery::Result &r) {
    std::vector<std::pair<std::uint32_t, std::uint64_t>> out;
    for (const auto &[number, entry] : r.objects)
        out.emplace_back(number, entry.offset);
    return out;
}

// ISO 32000-1, 7.3.10: "N G obj", where "obj" is a keyword of its own and the number is not
// part of a longer token.
TEST(XrefRecovery, WhatCountsAsAnObjectHeader) {
    struct Case {
        std::string bytes;
        std::vector<std::pair<std::uint32_t, std::uint64_t>> expected;
    };
    const Case cases[] = {
        {"1 0 obj (a) endobj", {{1, 0}}},
        {"x 12 3 obj<<>>", {{12, 2}}},
        {">>7\r\n0\tobj[", {{7, 2}}},
        {"\n\n4294967294 65535 obj", {{4294967294u, 2}}},
        {"12 0 obj", {{12, 0}}}, // at the very end
        {"endobj1 0 obj", {}},
        {"a1 0 obj", {}},
        {"-1 0 obj", {}},
        {"1 0 object", {}},
        {"1 0 objstm", {}},
        {"1 obj", {}},
        {"1 0obj", {}},
        {"1 x 0 obj", {}},
        {"4294967295 0 obj", {}},  // beyond every object number
        {"12345678901 0 obj", {}}, // eleven digits
        {"1 12345678901 obj", {}},
        {"obj obj 3 0 obj", {{3, 8}}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(entries(scan(c.bytes)), c.expected) << c.bytes;
}

TEST(XrefRecovery, TheLaterOfTwoHeadersWins) {
    const XrefRecovery::Result r =
        scan("%PDF-1.4\n2 0 obj (a) endobj\n1 0 obj (b) endobj\n2 0 obj (c) endobj\n");
    EXPECT_EQ(entries(r), (std::vector<std::pair<std::uint32_t, std::uint64_t>>{{1, 28}, {2, 47}}));
    EXPECT_TRUE(r.complete);
}

TEST(XrefRecovery, TrailerEntriesComeFromTheLastThatHasThem) {
    const std::string bytes =
        "trailer\n<< /Root 1 0 R /Info 2 0 R /ID [<AA>] /Size 9 >>\n"
        "5 0 obj << /Type /XRef /Root 3 0 R /Encrypt 6 0 R /W [1 1 1] /Length 0 >>\n"
        "stream\n\nendstream endobj\n"
        "trailer << /Info << /Title (In place) /Nested << /A 1 >> >> >>\n"
        "trailer (not a dictionary)\n"
        "/Trailer << /Root 99 0 R >>\n";
    const XrefRecovery::Result r = scan(bytes);
    PDFDictionary expected;
    expected.set("Root", {u"3 0 R", true});
    expected.set("ID", {u"<AA>", false});
    expected.set("Encrypt", {u"6 0 R", true});
    expected.set("Info", {u"3", false}); // the entries folded in
    expected.set("Info.Title", {u"In place", false});
    expected.set("Info.Nested", {u"1", false});
    expected.set("Info.Nested.A", {u"1", false});
    EXPECT_EQ(r.trailer, expected);

    // A later /Info reference replaces the dictionary written in place, entries and all.
    const XrefRecovery::Result later = scan(bytes + "trailer << /Info 8 0 R >>");
    EXPECT_EQ(later.trailer.getString("Info", u""), u"8 0 R");
    EXPECT_FALSE(later.trailer.hasNested("Info"));
}

TEST(XrefRecovery, StreamDataAreSteppedOverOnlyWhereTheirEndIsCertain) {
    const std::string inside = "2 0 obj (in the data) endobj trailer << /Root 2 0 R >>";
    const auto file = [&](const std::string &length) {
        return "1 0 obj\n<< /Length " + length + " >>\nstream\n" + inside +
               "\nendstream\nendobj\n3 0 obj (after) endobj\n";
    };
    const std::string exact = std::to_string(inside.size());
    const XrefRecovery::Result skipped = scan(file(exact));
    ASSERT_EQ(skipped.objects.size(), 2u);
    EXPECT_EQ(skipped.objects[0].first, 1u);
    EXPECT_EQ(skipped.objects[1].first, 3u);
    EXPECT_TRUE(skipped.trailer.empty());
    // With a /Length that "endstream" does not confirm, or one given by reference, the data
    // are scanned like any other bytes.
    for (const std::string &length :
         {std::to_string(inside.size() - 1), std::string("9 0 R"), std::string("999999")}) {
        const XrefRecovery::Result scanned = scan(file(length));
        EXPECT_EQ(scanned.objects.size(), 3u) << length;
        EXPECT_EQ(scanned.trailer.getString("Root", u""), u"2 0 R") << length;
    }
}

TEST(XrefRecovery, ObjectStreamsAndCatalogsAreListedWhenTheirHeaderWins) {
    const XrefRecovery::Result r = scan("1 0 obj << /Type /Catalog >> endobj\n"
                                        "4 0 obj << /Type /ObjStm /N 0 /First 0 >> endobj\n"
                                        "5 0 obj <</Type/ObjStm>> endobj\n"
                                        "7 0 obj << /Type /Catalog >> endobj\n"
                                        "5 0 obj (replaced) endobj\n"
                                        "8 0 obj << /Type /Catalog\n");
    EXPECT_EQ(r.objectStreams, (std::vector<std::uint32_t>{4}));
    EXPECT_EQ(r.catalogs, (std::vector<std::uint32_t>{1, 7, 8}));
}

// Objects whose dictionary begins after more white space than limits::kMaxBlankRun are still
// entered, but not examined.
TEST(XrefRecovery, BlankRunsEndAtTheirLimit) {
    for (const std::size_t blanks :
         {std::size_t{limits::kMaxBlankRun}, std::size_t{limits::kMaxBlankRun + 1}}) {
        const XrefRecovery::Result r =
            scan("1 0 obj" + std::string(blanks, '\0') + "<< /Type /Catalog >> endobj\ntrailer" +
                 std::string(blanks, '\n') + "<< /Root 1 0 R >>");
        EXPECT_EQ(r.objects.size(), 1u);
        EXPECT_EQ(r.catalogs.size(), blanks <= limits::kMaxBlankRun ? 1u : 0u) << blanks;
        EXPECT_EQ(r.trailer.size(), blanks <= limits::kMaxBlankRun ? 1u : 0u) << blanks;
    }
}

// A dictionary that never closes is parsed no further than the next header: a file of many
// costs no more than one pass, and the headers after it are still found.
TEST(XrefRecovery, UnclosedDictionariesEndAtTheNextHeader) {
    std::string bytes;
    for (int i = 1; i <= 2000; ++i)
        bytes += std::to_string(i) + " 0 obj << /Type /Catalog /Title (";
    bytes += "trailer << /Root 5 0 R >>";
    const XrefRecovery::Result r = scan(bytes);
    EXPECT_EQ(r.objects.size(), 2000u);
    EXPECT_EQ(r.catalogs.size(), 2000u);
    EXPECT_EQ(r.trailer.getString("Root", u""), u"5 0 R");
}

TEST(XrefRecovery, TheScanStopsAtTheHeaderLimit) {
    std::string bytes;
    bytes.reserve((limits::kMaxRecoveredObjects + 1) * 8 + 64);
    for (std::size_t i = 0; i <= limits::kMaxRecoveredObjects; ++i)
        bytes += "1 0 obj\n";
    bytes += "2 0 obj\ntrailer << /Root 1 0 R >>\n";
    test::ParserOver over(bytes);
    const XrefRecovery::Result r = XrefRecovery::scan(over.parser, 0);
    EXPECT_FALSE(r.complete);
    ASSERT_EQ(r.objects.size(), 1u);
    EXPECT_EQ(r.objects[0].second.offset, (limits::kMaxRecoveredObjects - 1) * 8);
    EXPECT_TRUE(r.trailer.empty()) << "what lies beyond the limit is not read";
}

TEST(XrefRecovery, ScansFromTheGivenOffset) {
    ParserOver over("9 0 obj (preamble) endobj %PDF-1.4\n1 0 obj (x) endobj");
    const XrefRecovery::Result r = XrefRecovery::scan(over.parser, 26);
    EXPECT_EQ(entries(r), (std::vector<std::pair<std::uint32_t, std::uint64_t>>{{1, 35}}));
}

} // namespace
