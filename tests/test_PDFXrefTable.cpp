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
