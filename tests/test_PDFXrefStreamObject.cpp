#include <gtest/gtest.h>

#include <chrono>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>

#include "TestSupport.h"
#include "objects/PDFObject.h"
#include "syntax/Limits.h"
#include "xref/PDFXrefStreamObject.h"
#include "xref/PDFXrefTable.h"

using namespace vellumtag;
using vellumtag::test::Reading;

namespace {

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values)
        out.push_back(static_cast<char>(v));
    return out;
}

// An uncompressed cross-reference stream object at offset 0 of the data.
std::string xrefStream(const std::string &entries, const std::string &rows) {
    return "9 0 obj\n<< /Type /XRef " + entries + " /Length " + std::to_string(rows.size()) +
           " >>\nstream\n" + rows + "\nendstream\nendobj\n";
}

struct Section : Reading {
    explicit Section(const std::string &data) : Reading(data) { result = xref.readSection(0); }
    std::map<std::uint32_t, std::uint64_t> inFile() const {
        std::map<std::uint32_t, std::uint64_t> out;
        for (const auto &[number, entry] : xref.entries().list())
            if (!entry.compressed())
                out[number] = entry.offset;
        return out;
    }
    PDFResult result = PDFResult::Ok;
};

using Offsets = std::map<std::uint32_t, std::uint64_t>;

TEST(PDFXrefStreamObject, RowsBecomeEntries) {
    const std::string upRows = bytes({2, 0, 0, 0, 0, 2, 1, 0, 15, 0, 2, 0, 0, 16, 0});
    const std::string plainRows = bytes({0, 0, 0, 0, 1, 0, 15, 0, 1, 0, 31, 0});
    struct Case {
        const char *what;
        std::string entries;
        std::string rows;
        PDFResult result;
        Offsets expected;
    };
    const Case cases[] = {
        {"PNG Up",
         "/W [1 2 1] /Size 3 /DecodeParms << /Columns 4 /Predictor 12 >>",
         upRows,
         PDFResult::Ok,
         {{1, 15}, {2, 31}}},
        // ISO 32000-1, 7.3.8.2: the parameters of the one filter, written as an array.
        {"PNG Up, parameters in an array",
         "/W [1 2 1] /Size 3 /Filter [] /DecodeParms [<< /Columns 4 /Predictor 12 >>]",
         upRows,
         PDFResult::Ok,
         {{1, 15}, {2, 31}}},
        {"no predictor", "/W [1 2 1] /Size 3", plainRows, PDFResult::Ok, {{1, 15}, {2, 31}}},
        {"no predictor, an array of null parameters",
         "/W [1 2 1] /Size 3 /DecodeParms [null]",
         plainRows,
         PDFResult::Ok,
         {{1, 15}, {2, 31}}},
        {"index pairs",
         "/W [1 2 1] /Index [0 2 10 1]",
         plainRows,
         PDFResult::Ok,
         {{1, 15}, {10, 31}}},
        {"odd index", "/W [1 2 1] /Index [7]", bytes({1, 0, 7, 0}), PDFResult::Ok, {{7, 7}}},
        {"no type field", "/W [0 2 1] /Size 3", plainRows, PDFResult::Ok, {}},
        {"fewer rows than listed",
         "/W [1 2 1] /Size 3000000000",
         plainRows,
         PDFResult::Ok,
         {{1, 15}, {2, 31}}},
        {"huge index count",
         "/W [1 2 1] /Index [5 4000000000]",
         plainRows,
         PDFResult::Ok,
         {{6, 15}, {7, 31}}},
        {"eight-byte offsets",
         "/W [1 8 0] /Size 1",
         bytes({1, 0, 0, 0, 0, 0, 0, 1, 2}),
         PDFResult::Ok,
         {{0, 258}}},
        {"width beyond eight", "/W [1 9 1] /Size 1", plainRows, PDFResult::Unspecified, {}},
        {"one width", "/W [4] /Size 3", plainRows, PDFResult::Unspecified, {}},
        {"no widths", "/Size 3", plainRows, PDFResult::Unspecified, {}},
        {"predictor 15",
         "/W [1 2 1] /DecodeParms << /Predictor 15 >>",
         upRows,
         PDFResult::Unspecified,
         {}},
        {"ragged rows",
         "/W [1 2 1] /DecodeParms << /Predictor 12 >>",
         upRows.substr(0, 11),
         PDFResult::Unspecified,
         {}},
    };
    for (const auto &c : cases) {
        Section s(xrefStream(c.entries, c.rows));
        EXPECT_EQ(s.result, c.result) << c.what;
        EXPECT_EQ(s.inFile(), c.expected) << c.what;
    }
}

// A lookup reads one row on demand (or, past limits::kMaxIndexPairsPerLookup pairs, searches
// entries made once); either way it must give what walking every row gives.
TEST(PDFXrefStreamObject, LookupsAgreeWithTheRowWalk) {
    std::string manyPairs = "/W [1 2 1] /Index [";
    std::string manyRows;
    for (std::size_t i = 0; i <= limits::kMaxIndexPairsPerLookup; ++i) {
        manyPairs += std::to_string(2 * i) + " 1 ";
        manyRows += bytes({1, 0, static_cast<int>(i), 0});
    }
    manyPairs += "]";
    struct Case {
        const char *what;
        std::string entries;
        std::string rows;
        std::size_t expectedCount;
    };
    const Case cases[] = {
        {"one pair", "/W [1 2 1] /Size 3", bytes({0, 0, 0, 0, 1, 0, 15, 0, 2, 0, 1, 4}), 2},
        // Object 3 is listed twice: its first row is free, so its second row counts.
        {"free, then in use", "/W [1 2 1] /Index [3 1 3 1]", bytes({0, 0, 9, 0, 1, 0, 20, 0}), 1},
        // Object 4 is listed twice, in use both times: the first row counts.
        {"in use twice", "/W [1 2 1] /Index [4 1 4 1]", bytes({1, 0, 20, 0, 1, 0, 30, 0}), 1},
        {"rows run out mid pair", "/W [1 2 1] /Index [0 1 10 5]", bytes({1, 0, 1, 0, 1, 0, 2, 0}),
         2},
        {"pair past the last number", "/W [1 2 1] /Index [4294967294 3 1 1]",
         bytes({1, 0, 1, 0, 1, 0, 2, 0}), 2},
        {"many pairs", manyPairs, manyRows, limits::kMaxIndexPairsPerLookup + 1},
    };
    for (const auto &c : cases) {
        Section s(xrefStream(c.entries, c.rows));
        ASSERT_EQ(s.result, PDFResult::Ok) << c.what;
        const auto listed = s.xref.entries().list();
        EXPECT_EQ(listed.size(), c.expectedCount) << c.what;
        std::map<std::uint32_t, std::uint64_t> walked, looked;
        for (const auto &[number, entry] : listed)
            walked[number] = entry.offset + entry.stream;
        for (std::uint32_t number :
             {0u, 1u, 2u, 3u, 4u, 10u, 11u, 12u, 32u, 4294967294u, 4294967295u}) {
            if (const auto entry = s.xref.entries().find(number))
                looked[number] = entry->offset + entry->stream;
        }
        for (std::uint32_t number = 0; number < 40; ++number) {
            if (const auto entry = s.xref.entries().find(number))
                looked[number] = entry->offset + entry->stream;
        }
        EXPECT_EQ(looked, walked) << c.what;
    }
}

TEST(PDFXrefStreamObject, TheStreamDictionaryBecomesTheTrailer) {
    Section s(xrefStream("/W [1 2 1] /Index [0 3] /Size 3 /Root 1 0 R /Prev 4 "
                         "/DecodeParms << /Predictor 1 >>",
                         bytes({0, 0, 0, 0, 1, 0, 15, 0, 1, 0, 31, 0})));
    ASSERT_EQ(s.result, PDFResult::Ok);
    std::vector<std::string> keys;
    for (const auto &[key, value] : s.xref.trailer())
        keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"DecodeParms", "DecodeParms.Predictor", "Index",
                                              "Length", "Prev", "Root", "Size", "Type", "W"}));
    EXPECT_EQ(s.xref.rootObject(), 1);
    EXPECT_EQ(s.xref.prevOffset(), 4);
}

TEST(PDFXrefStreamObject, CompressedEntriesPointAtTheirObjectStream) {
    // Object 20 lies in object stream 15, which a later row places at offset 100; object 21
    // lies in object stream 16, which no section lists.
    Section s(xrefStream("/W [1 2 1] /Index [15 2 20 2]",
                         bytes({1, 0, 100, 0, 0, 0, 0, 0, 2, 0, 15, 3, 2, 0, 16, 0})));
    ASSERT_EQ(s.result, PDFResult::Ok);
    const std::optional<XrefEntry> entry = s.xref.findEntry(20);
    ASSERT_TRUE(entry);
    EXPECT_TRUE(entry->compressed());
    EXPECT_EQ(entry->stream, 15u);
    EXPECT_EQ(entry->index, 3u);
    EXPECT_EQ(s.xref.findObjectOffset(20), 100);
    EXPECT_EQ(s.xref.findObjectOffset(21), PDFXrefTable::kUnknown);
    PDFObject object;
    EXPECT_EQ(s.objects.readObject(21, object), PDFResult::ObjectNotFound);
}

TEST(PDFXrefStreamObject, ObjectsAreReadOutOfTheirObjectStream) {
    // Object stream 5 holds objects 10 (a dictionary that comes first) and 11 (a string); object
    // 12 claims index 0 of the stream, but the header has no object 12.
    const std::string objects = "10 0 11 19 ";
    const std::string content = objects + "<< /Title (ten) >> (eleven)";
    const std::string file =
        test::PdfBuilder("1.5")
            .stream(5,
                    "<< /Type /ObjStm /N 2 /First " + std::to_string(objects.size()) + " /Length " +
                        std::to_string(content.size()) + " >>",
                    content)
            .inObjectStream(10, 5, 0)
            .inObjectStream(11, 5, 1)
            .inObjectStream(12, 5, 0)
            .xrefStream(9, "", {.deflate = false})
            .str();
    Reading r(file);
    ASSERT_EQ(r.xref.readSection(r.over.parser.findXrefOffset(limits::kStartxrefWindow)),
              PDFResult::Ok);

    PDFObject ten, eleven, twelve;
    ASSERT_EQ(r.objects.readObject(10, ten), PDFResult::Ok);
    EXPECT_EQ(ten._dictionary.getString("Title", u""), u"ten");
    EXPECT_TRUE(ten._embedded);
    ASSERT_EQ(r.objects.readObject(11, eleven), PDFResult::Ok);
    EXPECT_EQ(std::string(eleven._data.begin(), eleven._data.end()), "eleven");
    EXPECT_EQ(eleven._objectNumber, 11u);
    EXPECT_EQ(r.objects.readObject(12, twelve), PDFResult::ObjectNotFound);
}

// The size foreseen for the inflated rows, which sizes the inflate's buffer: the rows that
// /Index or /Size count, each as wide as /W and the predictor's tag byte make it.
TEST(PDFXrefStreamObject, DecodedSizeComesFromTheLayout) {
    struct Case {
        const char *entries;
        std::uint64_t size;
    };
    const Case cases[] = {
        {"/W [1 2 1] /Size 10", 40},
        {"/W [1 2 1] /Size 10 /DecodeParms << /Columns 4 /Predictor 12 >>", 50},
        {"/W [1 3 2] /Index [0 3 10 2] /Size 12", 30},
        {"/W [1 3 2] /Index [0 3 10] /Size 12", 18}, // the unpaired number counts no rows
        {"/W [1 8 8] /Size 2147483647", std::uint64_t{2147483647} * 17},
        {"/W [1 2 1] /Size -4", 0},
        {"/W [1 2 1]", 0},
        {"/W [4] /Size 10", 0},
        {"/W [1 9 1] /Size 10", 0},
        {"/W [0 0 0] /Size 10", 0},
        {"/Size 10", 0},
    };
    for (const auto &c : cases) {
        test::ParserOver over(std::string("<< ") + c.entries + " >>");
        PDFDictionary dictionary;
        ASSERT_EQ(dictionary.parse(over.parser), PDFResult::Ok) << c.entries;
        EXPECT_EQ(PDFXrefStreamObject::decodedSize(dictionary), c.size) << c.entries;
    }
}

} // namespace
