#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "syntax/MemoryFile.h"
#include "TestSupport.h"

using namespace vellumtag;
using vellumtag::test::ParserOver;
using vellumtag::test::TempDir;

namespace {

std::string text(const Bytes &bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(MemoryParser, FindReportsRangeEndOrDataEnd) {
    struct Case {
        const char *data, *needle;
        std::size_t from, to;
        std::ptrdiff_t expected; // offset; -1 means the data's end, -2 the range end
    };
    const Case cases[] = {
        {"abcabc", "bc", 0, 6, 1},    {"abcabc", "bc", 2, 6, 4},
        {"abcabc", "bc", 0, 2, -2},   // occurs only partly before the range end
        {"abcabc", "abcd", 0, 6, -1}, // longer than the range
        {"abcabc", "c", 3, 3, -1},    // empty range is invalid
        {"abcabc", "c", 4, 3, -1},    // reversed range
        {"abcabc", "abc", 3, 6, 3},   // ends exactly at the range end
    };
    for (const auto &c : cases) {
        ParserOver p(c.data);
        const auto *found = p.parser.find(c.needle, p.at(c.from), p.at(c.to));
        const auto *expected = c.expected == -1   ? p.parser.getEnd()
                               : c.expected == -2 ? p.at(c.to)
                                                  : p.at(static_cast<std::size_t>(c.expected));
        EXPECT_EQ(found, expected) << c.data << " / " << c.needle << " " << c.from << ".." << c.to;
    }
}

TEST(MemoryParser, FindLastNeverTakesTheRangeStart) {
    struct Case {
        const char *data, *needle;
        std::size_t from;
        std::ptrdiff_t expected; // -1: the data's end
    };
    const Case cases[] = {
        {"xyxyxy", "xy", 0, 4},
        {"xy....", "xy", 0, -1}, // the only occurrence starts at the range
                                 // start
        {".xy...", "xy", 0, 1},
        {"....xy", "xy", 4, -1},
        {"ab", "abc", 0, -1},
    };
    for (const auto &c : cases) {
        ParserOver p(c.data);
        const auto *found = p.parser.findLast(c.needle, p.at(c.from), p.parser.getEnd());
        const auto *expected =
            c.expected < 0 ? p.parser.getEnd() : p.at(static_cast<std::size_t>(c.expected));
        EXPECT_EQ(found, expected) << c.data << " / " << c.needle;
    }
}

TEST(MemoryParser, StartsWithNeedsOneByteMore) {
    EXPECT_FALSE(ParserOver("%PDF-").parser.startsWith("%PDF-"));
    EXPECT_TRUE(ParserOver("%PDF-1").parser.startsWith("%PDF-"));
    EXPECT_TRUE(ParserOver(std::string("%PDF-\0", 6)).parser.startsWith("%PDF-"));
    EXPECT_FALSE(ParserOver("%PDX-1.4").parser.startsWith("%PDF-"));
    ParserOver p("xx%PDF-1");
    p.parser.seek(2);
    EXPECT_TRUE(p.parser.startsWith("%PDF-"));
    p.parser.seek(100); // clamped to the end
    EXPECT_FALSE(p.parser.startsWith("%"));
}

TEST(MemoryParser, ReadLineConsumesAnyRunOfLineEnds) {
    ParserOver p("abc\r\n\r\nnext\rlast");
    LineBuffer line{};
    EXPECT_EQ(p.parser.readLine(line), 3u);
    EXPECT_STREQ(line.data(), "abc");
    EXPECT_EQ(p.cursor(), 7u);
    EXPECT_EQ(p.parser.readLine(line), 4u);
    EXPECT_STREQ(line.data(), "next");
    EXPECT_EQ(p.parser.readLine(line), 4u);
    EXPECT_STREQ(line.data(), "last");
    EXPECT_TRUE(p.parser.atEnd());
    EXPECT_EQ(p.parser.readLine(line), 0u);
}

TEST(MemoryParser, ReadLineLeavesTheBufferAloneForLongLines) {
    const std::string longLine(100, 'x');
    ParserOver p("ok\n" + longLine + "\nend");
    LineBuffer line{};
    p.parser.readLine(line);
    EXPECT_EQ(p.parser.readLine(line), 100u);
    EXPECT_STREQ(line.data(), "ok");
    EXPECT_EQ(p.parser.readLine(line), 3u);
    EXPECT_STREQ(line.data(), "end");

    ParserOver fits(std::string(99, 'y') + "\n");
    EXPECT_EQ(fits.parser.readLine(line), 99u);
    EXPECT_EQ(std::string(line.data()), std::string(99, 'y'));
}

TEST(MemoryParser, ReadBalancedHonoursEscapesAndNesting) {
    struct Case {
        const char *data;
        const char *copied;
        std::size_t cursorAfter;
    };
    const Case cases[] = {
        {"(a\\)b(c)d)tail", "(a\\)b(c)d)", 10},
        {"(a\\(b)x", "(a\\(b)", 6},
        {"(never closed", "(never closed", 13},
        {"(a\\\\)b)", "(a\\\\)b)", 7}, // an escaped backslash still escapes the ')'
        {"x(y)", "x", 1},              // not on a delimiter: one byte
    };
    for (const auto &c : cases) {
        ParserOver p(c.data);
        Bytes out;
        EXPECT_EQ(p.parser.readBalanced(out, '(', ')'), std::string(c.copied).size()) << c.data;
        EXPECT_EQ(text(out), c.copied);
        EXPECT_EQ(p.cursor(), c.cursorAfter) << c.data;
    }
}

TEST(MemoryParser, SkippingPrimitives) {
    ParserOver p(" \t\r\n\fx");
    p.parser.skipWhitespace();
    EXPECT_EQ(p.cursor(), 4u) << "form feed stops skipWhitespace";

    ParserOver q("abc>def/");
    Bytes out;
    EXPECT_EQ(q.parser.readUntilDelimiter(out), 3u);
    EXPECT_EQ(text(out), "abc");
    EXPECT_EQ(q.parser.skipUntil("/"), 4u);
    EXPECT_EQ(q.parser.skipUntil("/"), 0u);

    ParserOver r("0123stream");
    EXPECT_EQ(r.parser.skipPast("stream", 9), 0u) << "must lie wholly inside the window";
    EXPECT_EQ(r.cursor(), 0u);
    EXPECT_EQ(r.parser.skipPast("stream", 10), 10u);
    EXPECT_TRUE(r.parser.atEnd());
    r.parser.seek(0);
    EXPECT_EQ(r.parser.skipPast("stream"), 10u);
    EXPECT_EQ(r.parser.skipPast("stream"), 0u);
}

TEST(MemoryParser, ScanNeverReadsPastItsWindow) {
    ParserOver p("  1234\n");
    std::uint64_t value = 0;
    EXPECT_EQ(p.parser.scanAt(p.at(0), 25, "%Iu", {&value}), 1);
    EXPECT_EQ(value, 1234u);
    EXPECT_EQ(p.parser.scanAt(p.at(0), 4, "%Iu", {&value}), 1);
    EXPECT_EQ(value, 12u) << "the window cuts the number";
    value = 7;
    EXPECT_EQ(p.parser.scanAt(p.parser.getEnd(), 25, "%Iu", {&value}), -1);
    EXPECT_EQ(value, 7u);

    std::uint32_t number = 0, generation = 0;
    ParserOver header("12 0 obj");
    EXPECT_EQ(header.parser.scan(25, "%lu %lu obj", {&number, &generation}), 2);
    EXPECT_EQ(number, 12u);
    EXPECT_EQ(header.cursor(), 0u);
    ParserOver blanks(std::string(24, ' ') + "12 0 obj");
    EXPECT_LT(blanks.parser.scan(25, "%lu %lu obj", {&number, &generation}), 2);
}

TEST(MemoryParser, ScanTextFollowsThirtyTwoBitConversions) {
    struct Case {
        const char *text;
        int count;
        std::uint32_t first;
    };
    const Case cases[] = {
        {"17", 1, 17},
        {"+17", 1, 17},
        {"-1", 1, 4294967295u},
        {"-5", 1, 4294967291u},
        {"4294967295", 1, 4294967295u},
        {"4294967296", 1, 4294967295u}, // saturates like strtoul with a 32-bit long
        {"99999999999999999999999", 1, 4294967295u},
        {"x", 0, 0},
        {"", -1, 0},
        {"   ", -1, 0},
    };
    for (const auto &c : cases) {
        std::uint32_t value = 0;
        EXPECT_EQ(MemoryParser::scanText(c.text, "%lu", {&value}), c.count) << c.text;
        EXPECT_EQ(value, c.first) << c.text;
    }
    std::uint32_t a = 0, b = 0;
    char type = 0;
    EXPECT_EQ(MemoryParser::scanText("0000000017 00000 n \r", "%lu %lu %c", {&a, &b, &type}), 3);
    EXPECT_EQ(a, 17u);
    EXPECT_EQ(type, 'n');
    EXPECT_EQ(MemoryParser::scanText("3 1", "%lu %lu %c", {&a, &b, &type}), 2);
    EXPECT_EQ(MemoryParser::scanText("5 0 R", "%u %*u %c", {&a, &type}), 2);
    EXPECT_EQ(type, 'R');
}

TEST(MemoryParser, FindXrefOffsetLooksAtTheLastFortyNineBytes) {
    struct Case {
        std::string data;
        std::uint64_t expected;
    };
    const std::string pad(100, '%');
    const Case cases[] = {
        {pad + "startxref\n1234\n%%EOF\n", 1234},
        {pad + "startxref 1\nstartxref\n99\n%%EOF", 99},
        // The keyword begins exactly 50 bytes before the end: outside the window.
        {pad + "startxref" + std::string(41, ' '), UINT64_MAX},
        {pad + "startxref 7" + std::string(38, ' '), 7},
        {pad + "startxref" + std::string(25, ' ') + "7", UINT64_MAX}, // beyond 25 bytes
        {pad + "startxref", UINT64_MAX},
        {pad + "startxref\n%%EOF\n", UINT64_MAX},
        {"startxref 5", UINT64_MAX}, // at the very first byte: never a candidate
        {"%startxref 5", 5},
    };
    for (const auto &c : cases) {
        ParserOver p(c.data);
        EXPECT_EQ(p.parser.findXrefOffset(), c.expected) << c.data.substr(100);
    }
}

TEST(MemoryParser, ClosedParserFailsEveryPrimitive) {
    MemoryParser p;
    LineBuffer line{};
    Bytes out;
    EXPECT_FALSE(p.isOpen());
    EXPECT_FALSE(p.startsWith("%"));
    EXPECT_EQ(p.readLine(line), 0u);
    EXPECT_EQ(p.skipPast("x"), 0u);
    EXPECT_EQ(p.readBalanced(out, '(', ')'), 0u);
    EXPECT_EQ(p.findXrefOffset(), UINT64_MAX);
    std::uint64_t value = 0;
    EXPECT_EQ(p.scan(25, "%Iu", {&value}), -1);
}

TEST(MemoryFile, OpenFailsForWhatCannotBeMapped) {
    TempDir dir;
    const auto empty = dir.write("empty.pdf", "");
    const auto unreadable = dir.write("locked.pdf", "%PDF-1.4\n");
    std::filesystem::permissions(unreadable, std::filesystem::perms::none);
    const bool runningAsRoot = std::ifstream(unreadable).good();

    struct Case {
        std::filesystem::path path;
        const char *what;
    };
    std::vector<Case> cases = {
        {dir.path() / "missing.pdf", "missing"}, {dir.path(), "directory"}, {empty, "empty"}};
    if (!runningAsRoot)
        cases.push_back({unreadable, "unreadable"});
    for (const auto &c : cases) {
        MemoryFile file;
        EXPECT_FALSE(file.open(c.path)) << c.what;
        EXPECT_FALSE(file.isOpen()) << c.what;
    }
}

TEST(MemoryFile, MapsTheWholeFileAndReopens) {
    TempDir dir;
    const auto first = dir.write("a.pdf", "%PDF-1.7 first");
    const auto second = dir.write("b.pdf", "second file");
    MemoryFile file;
    ASSERT_TRUE(file.open(first));
    EXPECT_EQ(file.size(), 14u);
    EXPECT_TRUE(file.startsWith("%PDF-"));
    ASSERT_TRUE(file.open(second));
    EXPECT_EQ(file.size(), 11u);
    EXPECT_FALSE(file.startsWith("%PDF-"));
    file.close();
    EXPECT_FALSE(file.isOpen());
    file.close();
}

} // namespace
