#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "syntax/IntegerText.h"
#include "syntax/MemorySource.h"

using namespace vellumtag;
using vellumtag::test::kChunkSizes;
using vellumtag::test::ParserOver;

namespace {

std::string text(const Bytes &bytes) { return std::string(bytes.begin(), bytes.end()); }

// Every case of these tests runs over the data in memory and through windows of a few bytes:
// the primitives must give the same answers however the data come.
#define FOR_EACH_CHUNK_SIZE for (const std::size_t chunk : kChunkSizes)

TEST(MemoryParser, FindReportsRangeEndOrDataEnd) {
    struct Case {
        const char *data, *needle;
        std::uint64_t from, to;
        std::int64_t expected; // offset; -1 means the data's end, -2 the range end
    };
    const Case cases[] = {
        {"abcabc", "bc", 0, 6, 1},
        {"abcabc", "bc", 2, 6, 4},
        {"abcabc", "bc", 0, 2, -2},   // occurs only partly before the range end
        {"abcabc", "abcd", 0, 6, -1}, // longer than the range
        {"abcabc", "c", 3, 3, -1},    // empty range is invalid
        {"abcabc", "c", 4, 3, -1},    // reversed range
        {"abcabc", "abc", 3, 6, 3},   // ends exactly at the range end
        {"xxxxxxxxxxxxstream", "stream", 1, 18, 12},
    };
    FOR_EACH_CHUNK_SIZE {
        for (const auto &c : cases) {
            ParserOver p(c.data, chunk);
            p.parser.seek(1);
            const std::uint64_t expected = c.expected == -1   ? p.parser.size()
                                           : c.expected == -2 ? c.to
                                                              : std::uint64_t(c.expected);
            EXPECT_EQ(p.parser.find(c.needle, c.from, c.to), expected)
                << c.data << " / " << c.needle << " " << c.from << ".." << c.to << " " << chunk;
            EXPECT_EQ(p.cursor(), 1u) << "the cursor stays";
        }
    }
}

TEST(MemoryParser, FindLastNeverTakesTheRangeStart) {
    struct Case {
        const char *data, *needle;
        std::uint64_t from;
        std::int64_t expected; // -1: the data's end
    };
    const Case cases[] = {
        {"xyxyxy", "xy", 0, 4},
        {"xy....", "xy", 0, -1}, // the only occurrence starts at the range
                                 // start
        {".xy...", "xy", 0, 1},
        {"....xy", "xy", 4, -1},
        {"ab", "abc", 0, -1},
    };
    FOR_EACH_CHUNK_SIZE {
        for (const auto &c : cases) {
            ParserOver p(c.data, chunk);
            const std::uint64_t expected =
                c.expected < 0 ? p.parser.size() : std::uint64_t(c.expected);
            EXPECT_EQ(p.parser.findLast(c.needle, c.from, p.parser.size()), expected)
                << c.data << " / " << c.needle << " " << chunk;
        }
    }
}

TEST(MemoryParser, StartsWithNeedsOneByteMore) {
    FOR_EACH_CHUNK_SIZE {
        EXPECT_FALSE(ParserOver("%PDF-", chunk).parser.startsWith("%PDF-"));
        EXPECT_TRUE(ParserOver("%PDF-1", chunk).parser.startsWith("%PDF-"));
        EXPECT_TRUE(ParserOver(std::string("%PDF-\0", 6), chunk).parser.startsWith("%PDF-"));
        EXPECT_FALSE(ParserOver("%PDX-1.4", chunk).parser.startsWith("%PDF-"));
        ParserOver p("xx%PDF-1", chunk);
        p.parser.seek(2);
        EXPECT_TRUE(p.parser.startsWith("%PDF-"));
        EXPECT_TRUE(p.parser.skipKeyword("%PDF-"));
        EXPECT_EQ(p.cursor(), 7u);
        p.parser.seek(100); // clamped to the end
        EXPECT_TRUE(p.parser.atEnd());
        EXPECT_FALSE(p.parser.startsWith("%"));
    }
}

TEST(MemoryParser, ReadLineConsumesAnyRunOfLineEnds) {
    FOR_EACH_CHUNK_SIZE {
        ParserOver p("abc\r\n\r\nnext\rlast", chunk);
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
}

TEST(MemoryParser, ReadLineLeavesTheBufferAloneForLongLines) {
    FOR_EACH_CHUNK_SIZE {
        const std::string longLine(100, 'x');
        ParserOver p("ok\n" + longLine + "\nend", chunk);
        LineBuffer line{};
        p.parser.readLine(line);
        EXPECT_EQ(p.parser.readLine(line), 100u);
        EXPECT_STREQ(line.data(), "ok");
        EXPECT_EQ(p.parser.readLine(line), 3u);
        EXPECT_STREQ(line.data(), "end");

        ParserOver fits(std::string(99, 'y') + "\n", chunk);
        EXPECT_EQ(fits.parser.readLine(line), 99u);
        EXPECT_EQ(std::string(line.data()), std::string(99, 'y'));
    }
}

// The readers of strings, arrays and dictionaries, and where each leaves the cursor.
TEST(MemoryParser, BracketedReadsHonourEscapesAndNesting) {
    enum Reader { Balanced, Literal, Array, Dictionary };
    struct Case {
        Reader reader;
        const char *data;
        const char *copied; // nothing for Dictionary, which copies nothing
        std::size_t cursorAfter;
    };
    const Case cases[] = {
        {Balanced, "(a\\)b(c)d)tail", "(a\\)b(c)d)", 10},
        {Balanced, "(a\\(b)x", "(a\\(b)", 6},
        {Balanced, "(never closed", "(never closed", 13},
        {Balanced, "(a\\\\)b)", "(a\\\\)b)", 7}, // one byte of look-back: ')' counts as escaped
        {Balanced, "x(y)", "x", 1},              // not on a delimiter: one byte
        {Literal, "(a\\\\)b)", "(a\\\\)", 5},    // the escape state is tracked
        {Literal, "(a(b)c)d", "(a(b)c)", 7},
        {Literal, "(x\\", "(x\\", 3},
        {Literal, "(open", "(open", 5},
        {Array, "[1 [2] 3]x", "[1 [2] 3]", 9},
        {Array, "[(\\335[\\207) <5B> (])]/Root", "[(\\335[\\207) <5B> (])]", 22},
        // "<<" starts a dictionary, not a hexadecimal string; a string in it hides its "]".
        {Array, "[0 << /P (x>\\t]y) >> ]z", "[0 << /P (x>\\t]y) >> ]", 22},
        {Array, "[<a]> <<]z", "[<a]> <<]", 9},
        // A comment hides brackets up to the end of its line (ISO 32000-1, 7.2.4).
        {Array, "[1 % ] (\n2 %]\r]z", "[1 % ] (\n2 %]\r]", 15},
        {Dictionary, "<< /A 1 % >>\n>>rest", "", 15},
        {Array, "[<", "[<", 2},
        {Array, "[open", "[open", 5},
        {Dictionary, "<< /A << /B (>>) >> /C <3E3E> >>rest", "", 32},
        {Dictionary, "<<>>>>", "", 4},
        {Dictionary, "<< > >>", "", 7},
        {Dictionary, "<< <", "", 4},
        {Dictionary, "<< (open", "", 8},
    };
    FOR_EACH_CHUNK_SIZE {
        for (const auto &c : cases) {
            ParserOver p(c.data, chunk);
            Bytes out;
            switch (c.reader) {
            case Balanced:
                EXPECT_EQ(p.parser.readBalanced(out, '(', ')'), std::string(c.copied).size());
                break;
            case Literal:
                EXPECT_EQ(p.parser.readLiteralString(out), std::string(c.copied).size());
                break;
            case Array:
                EXPECT_EQ(p.parser.readArray(out), std::string(c.copied).size());
                break;
            case Dictionary:
                p.parser.skipDictionary();
                break;
            }
            EXPECT_EQ(text(out), c.copied) << c.data << " " << chunk;
            EXPECT_EQ(p.cursor(), c.cursorAfter) << c.data << " " << chunk;
        }
    }
}

TEST(MemoryParser, SkippingPrimitives) {
    FOR_EACH_CHUNK_SIZE {
        ParserOver p(" \t\r\n\fx", chunk);
        p.parser.skipWhitespace();
        EXPECT_EQ(p.cursor(), 4u) << "form feed stops skipWhitespace";
        EXPECT_EQ(p.parser.skipWhile(characters::kPdfWhitespace), 1u);
        EXPECT_EQ(p.parser.peek(), 'x');
        EXPECT_EQ(p.parser.peek(1), -1);

        ParserOver q("abc>def/", chunk);
        Bytes out;
        EXPECT_EQ(q.parser.readUntilDelimiter(out), 3u);
        EXPECT_EQ(text(out), "abc");
        EXPECT_EQ(q.parser.skipUntil(CharacterClass("/")), 4u);
        EXPECT_EQ(q.parser.skipUntil(CharacterClass("/")), 0u);

        ParserOver r("0123stream", chunk);
        EXPECT_EQ(r.parser.skipPast("stream", 9), 0u) << "must lie wholly inside the window";
        EXPECT_EQ(r.cursor(), 0u);
        EXPECT_EQ(r.parser.skipPast("stream", 10), 10u);
        EXPECT_TRUE(r.parser.atEnd());
        r.parser.seek(0);
        EXPECT_EQ(r.parser.skipPast("stream"), 10u);
        EXPECT_EQ(r.parser.skipPast("stream"), 0u);

        ParserOver s("0123456789", chunk);
        s.parser.seek(2);
        EXPECT_EQ(s.parser.readBytes(5, out), 5u);
        EXPECT_EQ(text(out), "23456");
        EXPECT_EQ(s.parser.readBytes(50, out), 3u) << "cut at the end of the data";
        EXPECT_EQ(text(out), "789");
        s.parser.seek(8);
        s.parser.advance(5);
        EXPECT_TRUE(s.parser.atEnd());
    }
}

TEST(MemoryParser, ReadUnsigned) {
    struct Case {
        const char *data;
        bool read;
        std::uint64_t value;
        std::size_t cursorAfter;
    };
    const Case cases[] = {
        {"12 34", true, 12, 2},
        {" \v\f\r\n\t7x", true, 7, 7},
        {"99999999999999999999999 1", true, UINT64_MAX, 23}, // saturates
        {"-5", false, 0, 0},
        {"   ", false, 0, 3},
        {"", false, 0, 0},
    };
    FOR_EACH_CHUNK_SIZE {
        for (const auto &c : cases) {
            ParserOver p(c.data, chunk);
            std::uint64_t value = 0;
            EXPECT_EQ(p.parser.readUnsigned(value), c.read) << c.data;
            EXPECT_EQ(value, c.value) << c.data;
            EXPECT_EQ(p.cursor(), c.cursorAfter) << c.data << " " << chunk;
        }
    }
}

TEST(MemoryParser, ScanNeverReadsPastItsWindow) {
    FOR_EACH_CHUNK_SIZE {
        ParserOver p("  1234\n", chunk);
        std::uint64_t value = 0;
        EXPECT_EQ(p.parser.scanAt(0, 25, "%Iu", {&value}), 1);
        EXPECT_EQ(value, 1234u);
        EXPECT_EQ(p.parser.scanAt(0, 4, "%Iu", {&value}), 1);
        EXPECT_EQ(value, 12u) << "the window cuts the number";
        value = 7;
        EXPECT_EQ(p.parser.scanAt(p.parser.size(), 25, "%Iu", {&value}), -1);
        EXPECT_EQ(value, 7u);

        std::uint32_t number = 0, generation = 0;
        ParserOver header("12 0 obj", chunk);
        EXPECT_EQ(header.parser.scan(25, "%lu %lu obj", {&number, &generation}), 2);
        EXPECT_EQ(number, 12u);
        EXPECT_EQ(header.cursor(), 0u);
        ParserOver blanks(std::string(24, ' ') + "12 0 obj", chunk);
        EXPECT_LT(blanks.parser.scan(25, "%lu %lu obj", {&number, &generation}), 2);
    }
}

// The one integer reader: how each conversion of the reader turns the same text into a value.
TEST(IntegerText, OverflowAndSignRules) {
    struct Case {
        const char *text;
        bool digits;
        std::uint32_t strtoul32; // %lu
        std::uint64_t strtoul64; // %Iu
        std::int32_t wcstol32;   // getInt
        bool fitsUInt32;         // getUIntArray takes it
    };
    const Case cases[] = {
        {"17", true, 17, 17, 17, true},
        {"+17", true, 17, 17, 17, true},
        {" \t-1", true, 4294967295u, UINT64_MAX, -1, true},
        {"-5", true, 4294967291u, UINT64_MAX - 4, -5, true},
        {"2147483647", true, 2147483647u, 2147483647u, INT32_MAX, true},
        {"2147483648", true, 2147483648u, 2147483648u, INT32_MAX, true},
        {"-2147483648", true, 2147483648u, UINT64_MAX - 2147483647u, INT32_MIN, true},
        {"-2147483649", true, 2147483647u, UINT64_MAX - 2147483648u, INT32_MIN, true},
        {"4294967295", true, 4294967295u, 4294967295u, INT32_MAX, true},
        {"4294967296", true, 4294967295u, 4294967296u, INT32_MAX, false},
        {"18446744073709551615", true, 4294967295u, UINT64_MAX, INT32_MAX, false},
        {"18446744073709551616", true, 4294967295u, UINT64_MAX, INT32_MAX, false},
        {"-99999999999999999999999", true, 4294967295u, UINT64_MAX, INT32_MIN, false},
        {"x", false, 0, 0, 0, false},
        {"-", false, 0, 0, 0, false},
    };
    for (const auto &c : cases) {
        std::size_t pos = 0;
        const IntegerText number = IntegerText::read(std::string_view(c.text), pos);
        EXPECT_EQ(number.hasDigits(), c.digits) << c.text;
        if (!c.digits) {
            EXPECT_EQ(pos, 0u) << c.text;
            continue;
        }
        EXPECT_EQ(pos, std::string_view(c.text).size()) << c.text;
        EXPECT_EQ(number.toUnsigned(UINT32_MAX), c.strtoul32) << c.text;
        EXPECT_EQ(number.toUnsigned(UINT64_MAX), c.strtoul64) << c.text;
        EXPECT_EQ(number.toInt32(), c.wcstol32) << c.text;
        EXPECT_EQ(!number.exceeds(UINT32_MAX), c.fitsUInt32) << c.text;
    }
    std::size_t pos = 0;
    const IntegerText hex = IntegerText::read(std::u16string_view(u"-fF9g"), pos, 16);
    EXPECT_EQ(static_cast<std::uint8_t>(hex.toUnsigned(UINT64_MAX)), 7u);
    EXPECT_EQ(pos, 4u);
}

TEST(MemoryParser, ScanTextFollowsThirtyTwoBitConversions) {
    struct Case {
        const char *text;
        int count;
        std::uint32_t first;
    };
    const Case cases[] = {
        {"17", 1, 17},
        {"-1", 1, 4294967295u},
        {"4294967296", 1, 4294967295u},
        {"x", 0, 0},
        {"", -1, 0},
        {"   ", -1, 0},
        {"-", -1, 0},
        {"-x", 0, 0},
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

TEST(MemoryParser, FindXrefOffsetLooksOnlyWithinItsWindow) {
    struct Case {
        std::string data;
        std::size_t within;
        std::uint64_t expected;
    };
    const std::size_t strict = limits::kStrictStartxrefWindow - 1;
    const std::size_t wide = limits::kStartxrefWindow;
    const std::string pad(100, '%');
    const Case cases[] = {
        {pad + "startxref\n1234\n%%EOF\n", strict, 1234},
        {pad + "startxref 1\nstartxref\n99\n%%EOF", strict, 99},
        // The keyword begins exactly 50 bytes before the end: outside the strict window.
        {pad + "startxref" + std::string(41, ' '), strict, UINT64_MAX},
        {pad + "startxref 7" + std::string(38, ' '), strict, 7},
        {pad + "startxref" + std::string(25, ' ') + "7", strict, UINT64_MAX}, // beyond 25 bytes
        {pad + "startxref", strict, UINT64_MAX},
        {pad + "startxref\n%%EOF\n", strict, UINT64_MAX},
        {"startxref 5", strict, UINT64_MAX}, // at the very first byte: never a candidate
        {"%startxref 5", strict, 5},
        // A trailing block after %%EOF: found while the keyword begins in the last 1024 bytes.
        {pad + "startxref\n77\n%%EOF\n" + std::string(600, 'x'), strict, UINT64_MAX},
        {pad + "startxref\n77\n%%EOF\n" + std::string(600, 'x'), wide, 77},
        {pad + "startxref 8" + std::string(1013, ' '), wide, 8},
        {pad + "startxref 8" + std::string(1014, ' '), wide, UINT64_MAX},
    };
    FOR_EACH_CHUNK_SIZE {
        for (const auto &c : cases) {
            ParserOver p(c.data, chunk);
            EXPECT_EQ(p.parser.findXrefOffset(c.within), c.expected)
                << c.data.substr(100, 40) << " within " << c.within;
        }
    }
}

TEST(MemoryParser, FindHeaderLooksWithinItsWindow) {
    struct Case {
        std::string data;
        std::uint64_t expected; // UINT64_MAX: not found
    };
    const Case cases[] = {
        {"%PDF-1.4\n", 0},
        {"%PDF-", UINT64_MAX}, // nothing after it
        {"\xEF\xBB\xBF%PDF-1.7\n", 3},
        {std::string(1019, 'j') + "%PDF-1", 1019},
        {std::string(1020, 'j') + "%PDF-1", UINT64_MAX}, // the header ends beyond 1024 bytes
        {"%PDF 1.4 %PDF-2.0", 9},
        {"no header at all", UINT64_MAX},
    };
    FOR_EACH_CHUNK_SIZE {
        for (const auto &c : cases) {
            ParserOver p(c.data, chunk);
            const std::uint64_t found = p.parser.findHeader(limits::kHeaderWindow);
            EXPECT_EQ(found == p.parser.size() ? UINT64_MAX : found, c.expected)
                << c.data.substr(0, 20);
            EXPECT_EQ(p.cursor(), 0u);
        }
    }
}

TEST(MemoryParser, SetEndConfinesEveryPrimitiveUntilItIsLifted) {
    FOR_EACH_CHUNK_SIZE {
        ParserOver p("<< /A (x) >> trailer << /B 1 >>", chunk);
        p.parser.seek(3);
        const std::uint64_t whole = p.parser.setEnd(8);
        EXPECT_EQ(whole, 31u);
        EXPECT_EQ(p.parser.size(), 8u);
        EXPECT_EQ(p.cursor(), 3u);
        EXPECT_EQ(p.parser.skipPast("trailer"), 0u) << "beyond the end";
        Bytes out;
        p.parser.seek(6);
        EXPECT_EQ(p.parser.readLiteralString(out), 2u) << "cut at the end";
        EXPECT_TRUE(p.parser.atEnd());
        EXPECT_EQ(p.parser.peek(), -1);

        // An end before the cursor moves the cursor back to it.
        p.parser.seek(20);
        p.parser.setEnd(whole);
        p.parser.seek(20);
        p.parser.setEnd(4);
        EXPECT_EQ(p.cursor(), 4u);

        EXPECT_EQ(p.parser.setEnd(whole), 4u);
        EXPECT_EQ(p.parser.skipPast("trailer"), 16u);
        EXPECT_EQ(p.parser.peek(1), '<');
        EXPECT_EQ(p.parser.setEnd(1000), whole) << "never beyond the data";
        EXPECT_EQ(p.parser.size(), whole);
    }
}

// A long search through bytes in memory hands back each slice of 16 MiB that it has passed
// wholly, and still finds what straddles two slices.
TEST(MemoryParser, LongSearchesHandBackWhatTheyPassed) {
    struct Spy final : MemorySource {
        using MemorySource::MemorySource;
        void release(std::uint64_t offset, std::uint64_t length) override {
            released.emplace_back(offset, length);
        }
        std::vector<std::pair<std::uint64_t, std::uint64_t>> released;
    };
    constexpr std::uint64_t kSlice = std::uint64_t{16} << 20;
    std::string data(3 * kSlice, ' ');
    data.replace(2 * kSlice - 3, 7, "trailer");
    data.replace(3 * kSlice - 7, 7, "endobj!");
    Spy spy(std::span(reinterpret_cast<const std::uint8_t *>(data.data()), data.size()));
    MemoryParser parser(spy);
    EXPECT_EQ(parser.find("trailer", 5, data.size()), 2 * kSlice - 3);
    EXPECT_EQ(spy.released,
              (std::vector<std::pair<std::uint64_t, std::uint64_t>>{{5, kSlice - 5}}));
    spy.released.clear();
    EXPECT_EQ(parser.find("endobj!", 0, data.size()), 3 * kSlice - 7);
    // A slice is handed back once the one after it is searched: at most two stay resident.
    EXPECT_EQ(spy.released, (std::vector<std::pair<std::uint64_t, std::uint64_t>>{{0, kSlice}}));
    spy.released.clear();
    EXPECT_EQ(parser.find("absent", 0, data.size()), data.size());
    EXPECT_EQ(spy.released, (std::vector<std::pair<std::uint64_t, std::uint64_t>>{{0, kSlice}}));
    // The needle must lie wholly within the range.
    EXPECT_EQ(parser.find("trailer", 0, 2 * kSlice + 4), 2 * kSlice - 3);
    EXPECT_EQ(parser.find("trailer", 0, 2 * kSlice + 3), 2 * kSlice + 3);
}

TEST(MemoryParser, ClosedParserFailsEveryPrimitive) {
    MemoryParser p;
    LineBuffer line{};
    Bytes out;
    EXPECT_FALSE(p.isOpen());
    EXPECT_TRUE(p.atEnd());
    EXPECT_EQ(p.peek(), -1);
    EXPECT_FALSE(p.startsWith("%"));
    EXPECT_EQ(p.readLine(line), 0u);
    EXPECT_EQ(p.skipPast("x"), 0u);
    EXPECT_EQ(p.readBalanced(out, '(', ')'), 0u);
    EXPECT_EQ(p.readArray(out), 0u);
    EXPECT_EQ(p.findXrefOffset(limits::kStartxrefWindow), UINT64_MAX);
    EXPECT_EQ(p.setEnd(10), 0u);
    std::uint64_t value = 0;
    EXPECT_FALSE(p.readUnsigned(value));
    EXPECT_EQ(p.scan(25, "%Iu", {&value}), -1);
}

TEST(MemoryParser, PiecewiseWindowsReadEachChunkOnce) {
    // Moving forward through the data costs one read per chunk, not one per primitive.
    const std::string data(1000, ' ');
    ParserOver p(data + "x", 100);
    const std::size_t before = p.pieces.reads();
    p.parser.skipWhitespace();
    EXPECT_EQ(p.parser.peek(), 'x');
    EXPECT_LE(p.pieces.reads() - before, 11u);
}

} // namespace
