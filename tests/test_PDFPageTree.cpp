#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "metadata/PDFPageTree.h"

using namespace vellumtag;
using vellumtag::test::PdfBuilder;

namespace {

struct Counted {
    std::optional<std::u16string> count;
    bool rootReadable = false;
};

// The page count of the tree whose root is object 2, among the objects given.
Counted countPages(const std::vector<std::pair<std::uint32_t, std::string>> &objects) {
    PdfBuilder builder;
    for (const auto &[number, body] : objects)
        builder.object(number, body);
    const std::string file = builder.build("");
    test::Reading reading(file);
    EXPECT_EQ(reading.xref.readSection(reading.over.parser.findXrefOffset(1024)), PDFResult::Ok);
    Counted counted;
    counted.count = PDFPageTree::count(reading.objects, 2, counted.rootReadable);
    return counted;
}

// ISO 32000-1, 7.7.3.2: the root's /Count when it is a non-negative integer; otherwise the
// leaves, as viewers count them.
TEST(PDFPageTree, CountOrLeaves) {
    struct Case {
        const char *what;
        std::vector<std::pair<std::uint32_t, std::string>> objects;
        std::optional<std::u16string> expected;
    };
    const std::string page = "<< /Type /Page /Parent 2 0 R >>";
    const Case cases[] = {
        {"the root's count", {{2, "<< /Type /Pages /Kids [3 0 R] /Count 12 >>"}, {3, page}}, u"12"},
        {"a count by reference", {{2, "<< /Type /Pages /Count 9 0 R >>"}, {9, "4"}}, u"4"},
        {"a count of zero", {{2, "<< /Type /Pages /Kids [] /Count 0 >>"}}, u"0"},
        {"a negative count", {{2, "<< /Type /Pages /Kids [3 0 R] /Count -1 >>"}, {3, page}}, u"1"},
        {"a count that is no integer",
         {{2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2.5 >>"}, {3, page}, {4, page}},
         u"2"},
        {"a count that is a name",
         {{2, "<< /Type /Pages /Kids [3 0 R] /Count /Two >>"}, {3, page}},
         u"1"},
        {"no count",
         {{2, "<< /Type /Pages /Kids [3 0 R 5 0 R] >>"},
          {3, "<< /Type /Pages /Kids [4 0 R 6 0 R] >>"},
          {4, page},
          {5, page},
          {6, page}},
         u"3"},
        {"the root is a page", {{2, page}}, u"1"},
        {"nothing below the root", {{2, "<< /Type /Pages >>"}}, u"0"},
        // Kids without /Type: a dictionary without /Kids is a page, one with them a node.
        {"untyped nodes",
         {{2, "<< /Kids [3 0 R] >>"},
          {3, "<< /Kids [4 0 R 5 0 R] >>"},
          {4, "<< /Contents 9 0 R >>"},
          {5, "<< >>"}},
         u"1"},
        {"kids that are no dictionaries or missing",
         {{2, "<< /Type /Pages /Kids [3 0 R 4 0 R 99 0 R 5 0 R] >>"},
          {3, "(text)"},
          {4, "42"},
          {5, page}},
         u"1"},
        {"an array of kids by reference",
         {{2, "<< /Type /Pages /Kids 7 0 R >>"}, {7, "[3 0 R 4 0 R]"}, {3, page}, {4, page}},
         u"2"},
        {"cycles and kids listed twice",
         {{2, "<< /Type /Pages /Kids [3 0 R 3 0 R 2 0 R] >>"},
          {3, "<< /Type /Pages /Kids [2 0 R 3 0 R 4 0 R] >>"},
          {4, page}},
         u"1"},
    };
    for (const auto &c : cases) {
        const Counted counted = countPages(c.objects);
        EXPECT_TRUE(counted.rootReadable) << c.what;
        EXPECT_EQ(counted.count, c.expected) << c.what;
    }
}

TEST(PDFPageTree, AnUnreadableRootIsToldApart) {
    const Counted counted = countPages({{3, "<< /Type /Page >>"}});
    EXPECT_FALSE(counted.rootReadable);
    EXPECT_FALSE(counted.count.has_value());
}

// A tree of more nodes than the walk may visit gives no count rather than a wrong one.
TEST(PDFPageTree, TheWalkGivesUpBeyondTheNodeLimit) {
    for (const std::size_t kids : {limits::kMaxPageTreeNodes - 1, limits::kMaxPageTreeNodes}) {
        // Distinct kids, of which the file holds only the first: the root and they make up
        // kids + 1 nodes.
        std::string array;
        for (std::size_t i = 0; i < kids; ++i)
            array += std::to_string(10 + i) + " 0 R ";
        const Counted counted = countPages(
            {{2, "<< /Type /Pages /Kids [" + array + "] >>"}, {10, "<< /Type /Page >>"}});
        if (kids < limits::kMaxPageTreeNodes)
            EXPECT_EQ(counted.count, std::optional<std::u16string>(u"1")) << kids;
        else
            EXPECT_FALSE(counted.count.has_value()) << kids;
    }
}

TEST(PDFPageTree, ReferencesInAnArrayText) {
    const std::pair<std::u16string, std::vector<std::uint32_t>> cases[] = {
        {u"3 0 R 4 0 R", {3, 4}},
        {u" 3  0\nR\t12 5 R", {3, 12}},
        {u"3 0 R 4 0 5 0 R", {3, 5}},
        {u"(x) 7 0 R /N 8 0 R 1 2", {7, 8}},
        {u"-3 0 R 4294967295 0 R 4294967294 0 R", {4294967294u}},
        {u"", {}},
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(PDFPageTree::references(text), expected);
}

} // namespace
