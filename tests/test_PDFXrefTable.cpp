#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "xref/PDFXrefTable.h"

using namespace vellumtag;
using vellumtag::test::Reading;

namespace {

std::string entry(std::size_t offset) {
    char line[24];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
    return line;
}

using Table = Reading;

TEST(PDFXrefTable, OneClassicSection) {
    Table t("xref\n0 3\n0000000000 65535 f \n" + entry(17) + entry(42) +
            "trailer\n<< /Size 3 /Root 1 0 R /Info 2 0 R >>\nstartxref\n0\n%%EOF\n");
    ASSERT_EQ(t.xref.readSection(0), PDFResult::Ok);
    EXPECT_EQ(t.xref.rootObject(), 1);
    EXPECT_EQ(t.xref.infoObject(), 2);
    EXPECT_EQ(t.xref.prevOffset(), -1);
    EXPECT_EQ(t.xref.findObjectOffset(0), 0); // free entries are entered like in-use ones
    EXPECT_EQ(t.xref.findObjectOffset(1), 17);
    EXPECT_EQ(t.xref.findObjectOffset(2), 42);
    EXPECT_EQ(t.xref.findObjectOffset(3), PDFXrefTable::kUnknown);
}

TEST(PDFXrefTable, SubsectionsAndOddLines) {
    Table t("xref junk\r\n0 1\r\n0000000000 65535 f\r\n\r\n3 1\r\n0000000017 00000 n\r\n" +
            std::string(120, '9') + "\n" + "not an entry\n" + "trailer<</Root 3 0 R>>");
    ASSERT_EQ(t.xref.readSection(0), PDFResult::Ok);
    EXPECT_EQ(t.xref.entries().list().size(), 2u);
    EXPECT_EQ(t.xref.findObjectOffset(0), 0);
    EXPECT_EQ(t.xref.findObjectOffset(3), 17);
    EXPECT_EQ(t.xref.findObjectOffset(1), PDFXrefTable::kUnknown);
    EXPECT_EQ(t.xref.rootObject(), 3);
}

// An older section at offset 0 and a newer one after it whose /Prev points back.
struct TwoSections {
    TwoSections() {
        std::string older = "xref\n0 1\n5 2\n" + entry(100) + entry(600) +
                            "trailer\n<< /Size 7 /Root 9 0 R /ID [<AA>] >>\n";
        newer = older.size();
        std::string bytes =
            older + "xref\n5 1\n" + entry(200) + "trailer\n<< /Size 6 /Root 1 0 R /Prev 0 >>\n";
        table = std::make_unique<Table>(bytes);
    }
    std::size_t newer = 0;
    std::unique_ptr<Table> table;
};

TEST(PDFXrefTable, NewerSectionsWinAndOlderOnesAreReadOnDemand) {
    TwoSections s;
    PDFXrefTable &xref = s.table->xref;
    ASSERT_EQ(xref.readSection(s.newer), PDFResult::Ok);
    EXPECT_EQ(xref.prevOffset(), 0);
    EXPECT_EQ(xref.sectionCount(), 1u);
    EXPECT_EQ(xref.findObjectOffset(5), 200);
    EXPECT_EQ(xref.sectionCount(), 1u) << "a known object needs no read";

    EXPECT_EQ(xref.findObjectOffset(6), 600);
    EXPECT_EQ(xref.sectionCount(), 2u);
    EXPECT_EQ(xref.findObjectOffset(5), 200) << "the newer offset stays";
    EXPECT_EQ(xref.findObjectOffset(6), 600);
    EXPECT_EQ(xref.sectionCount(), 2u);

    EXPECT_EQ(xref.trailer().getString("Size", u""), u"6");
    EXPECT_EQ(xref.rootObject(), 1);
    EXPECT_EQ(xref.trailer().getString("ID", u""), u"<AA>") << "older-only keys are added";
    EXPECT_FALSE(xref.trailer().contains("Prev"));
    EXPECT_EQ(xref.prevOffset(), -1);
}

TEST(PDFXrefTable, SelfReferencingPrevEndsAtTheSectionLimit) {
    Table t("xref\n0 1\n" + entry(10) + "trailer\n<< /Prev 0 >>\n");
    ASSERT_EQ(t.xref.readSection(0), PDFResult::Ok);
    EXPECT_EQ(t.xref.prevOffset(), 0);
    EXPECT_EQ(t.xref.findObjectOffset(99), PDFXrefTable::kUnknown);
    EXPECT_EQ(t.xref.sectionCount(), limits::kMaxSections);
    EXPECT_EQ(t.xref.readSection(0), PDFResult::XrefNotFound);
    EXPECT_EQ(t.xref.prevOffset(), -1);
    EXPECT_EQ(t.xref.findObjectOffset(0), 10);
}

TEST(PDFXrefTable, OffsetsBeyondFourGibibytesAreReadInSixtyFourBits) {
    Table t("xref\n0 3\n5000000000 00000 n \n9999999999 00000 n\r\n7000000000 0 n\n"
            "trailer\n<< /Prev 4294967296 >>\n");
    ASSERT_EQ(t.xref.readSection(0), PDFResult::Ok);
    EXPECT_EQ(t.xref.findEntry(0)->offset, 5000000000u);
    EXPECT_EQ(t.xref.findEntry(1)->offset, 9999999999u);
    EXPECT_EQ(t.xref.findEntry(2)->offset, 7000000000u);
    EXPECT_EQ(t.xref.prevOffset(), 4294967296);
}

// ISO 32000-1, 7.5.8.4: a hybrid file's table lists the compressed objects as free, or not at
// all, and its /XRefStm stream lists them. The table's in-use entries come first, then the
// stream's, then the table's free ones; an older section only after all three.
TEST(PDFXrefTable, HybridSectionsReadTheStreamThatXRefStmNames) {
    // An uncompressed cross-reference stream: rows of type 1 (offset) or 2 (object stream).
    const std::string rows = std::string("\x01\x00\x63\x00", 4) + // 3: at 99
                             std::string("\x02\x00\x0A\x01", 4) + // 4: in stream 10
                             std::string("\x01\x00\x58\x00", 4);  // 5: at 88
    const std::string stream =
        "9 0 obj\n<< /Type /XRef /W [1 2 1] /Index [3 3] /Size 6 /Root 77 0 R "
        "/Length 12 >>\nstream\n" +
        rows + "\nendstream\nendobj\n";
    const std::string older = "xref\n6 1\n" + entry(66) + "trailer\n<< /Size 7 >>\n";
    const std::size_t olderAt = stream.size();
    const std::size_t newerAt = olderAt + older.size();
    const std::string newer = "xref\n0 6\n0000000000 65535 f \n" + entry(11) + entry(22) +
                              "0000000000 00000 f \n0000000000 00000 f \n" + entry(55) +
                              "trailer\n<< /Size 6 /Root 1 0 R /XRefStm 0 /Prev " +
                              std::to_string(olderAt) + " >>\n";
    Table t(stream + older + newer);
    ASSERT_EQ(t.xref.readSection(newerAt), PDFResult::Ok);
    EXPECT_EQ(t.xref.findObjectOffset(1), 11);
    EXPECT_EQ(t.xref.findObjectOffset(3), 99) << "free in the table, in the stream";
    const auto four = t.xref.findEntry(4);
    ASSERT_TRUE(four.has_value());
    EXPECT_EQ(four->stream, 10u);
    EXPECT_EQ(four->index, 1u);
    EXPECT_EQ(t.xref.findObjectOffset(5), 55) << "in use in the table wins over the stream";
    EXPECT_EQ(t.xref.findObjectOffset(0), 0) << "free entries still count after the stream";
    EXPECT_EQ(t.xref.findObjectOffset(6), 66);
    EXPECT_EQ(t.xref.sectionCount(), 2u) << "the stream is part of its section";
    EXPECT_EQ(t.xref.rootObject(), 1) << "the stream's dictionary is no trailer";
    EXPECT_FALSE(t.xref.trailer().contains("XRefStm")) << "it belongs to the section read last";
}

TEST(PDFXrefTable, AShiftMovesEveryOffsetThatTheFileGives) {
    const std::string preamble = "HTTP/1.1 200 OK\r\n\r\n";
    const std::string file =
        "%PDF-1.4\n1 0 obj (one) endobj\nxref\n1 1\n" + entry(9) + "trailer << /Root 1 0 R >>\n";
    Table t(preamble + file);
    const std::size_t xref = file.find("xref");
    EXPECT_FALSE(t.xref.sectionAt(xref));
    EXPECT_TRUE(t.xref.sectionAt(xref + preamble.size()));
    t.xref.setShift(preamble.size());
    ASSERT_EQ(t.xref.readSection(xref), PDFResult::Ok);
    EXPECT_EQ(t.xref.findObjectOffset(1), static_cast<std::int64_t>(preamble.size() + 9));
}

TEST(PDFXrefTable, SectionAtTellsTablesAndStreamsFromOtherBytes) {
    const std::pair<const char *, bool> cases[] = {
        {"  xref\n", true},
        {"12 0 obj\n<< /Type /XRef /W [1 2 1] >>", true},
        {"12 0 obj<</Type/XRef>>", true},
        {"12 0 obj\n<< /Type /Catalog >>", false},
        {"12 0 obj (text)", false},
        {"0000000017 00000 n \n", false},
        {"trailer << >>", false},
    };
    for (const auto &[bytes, expected] : cases) {
        Table t(bytes);
        EXPECT_EQ(t.xref.sectionAt(0), expected) << bytes;
    }
}

TEST(PDFXrefTable, ALongChainIsToldApart) {
    Table t("xref\n0 1\n" + entry(10) + "trailer\n<< /Prev 0 >>\n");
    ASSERT_EQ(t.xref.readSection(0), PDFResult::Ok);
    EXPECT_FALSE(t.xref.chainTooLong());
    EXPECT_FALSE(t.xref.findEntry(99).has_value());
    EXPECT_TRUE(t.xref.chainTooLong());
}

// A rebuilt index learns what object streams hold; of an object found in the file and in an
// object stream, the one that lies later in the file wins.
TEST(PDFXrefTable, ObjectStreamMembersRankByTheirPlaceInTheFile) {
    Table t("");
    t.xref.adopt(
        {{1, XrefEntry{100}}, {2, XrefEntry{300}}, {10, XrefEntry{200}}, {11, XrefEntry{400}}},
        PDFDictionary(), 1, -1);
    t.xref.addObjectStreamMembers({{11, {2, 3, 3}}, {10, {1, 2, 4, 10, 4}}, {99, {5}}});
    const auto at = [&](std::uint32_t number) { return t.xref.findEntry(number); };
    EXPECT_EQ(at(1)->stream, 10u) << "the stream at 200 is later than the object at 100";
    EXPECT_EQ(at(2)->stream, 11u) << "the stream at 400 is later than the object at 300";
    EXPECT_EQ(at(3)->stream, 11u);
    EXPECT_EQ(at(3)->index, 1u) << "the first of a number listed twice";
    EXPECT_EQ(at(4)->stream, 10u);
    EXPECT_EQ(at(4)->index, 2u);
    EXPECT_FALSE(at(10)->compressed()) << "a stream never holds itself";
    EXPECT_FALSE(at(5).has_value()) << "a stream that is not in the index adds nothing";
    EXPECT_EQ(t.xref.rootObject(), 1);
}

TEST(PDFXrefTable, SectionFailures) {
    struct Case {
        const char *bytes;
        std::uint64_t offset;
        PDFResult expected;
    };
    const Case cases[] = {
        {"xref\n0 1\n0000000009 00000 n \n", 0, PDFResult::Ok}, // no trailer at all
        {"xref\n0 1\n0000000009 00000 n \ntrailer", 0, PDFResult::Ok},
        {"some text\nxref\n", 3, PDFResult::Unspecified},
        {"  \r\n  xref\n0 1\n0000000009 00000 n \n", 0, PDFResult::Ok},
        {"xref\n", 5, PDFResult::BadValue},
        {"xref\n", 500, PDFResult::BadValue},
        {"12 0 obj\n<< /Type /XRef >>", 0, PDFResult::Unspecified}, // streams come later
    };
    for (const auto &c : cases) {
        Table t(c.bytes);
        EXPECT_EQ(t.xref.readSection(c.offset), c.expected) << c.bytes;
    }
}

} // namespace
