#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "syntax/PDFDictionary.h"
#include "syntax/TextEncoding.h"

using namespace vellumtag;
using vellumtag::test::ParserOver;

namespace {

struct Entry {
    std::string key;
    std::u16string text;
    bool isReference = false;
};

PDFDictionary dictionaryOf(const std::vector<Entry> &entries) {
    PDFDictionary d;
    for (const auto &e : entries)
        d.set(e.key, {e.text, e.isReference});
    return d;
}

// Non-ASCII code units show as "?"; enough to tell which entry differs.
std::string show(const PDFDictionary &d) {
    std::string out;
    for (const auto &[key, value] : d) {
        out += key + "=\"";
        for (const char16_t c : value.text)
            out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
        out += value.isReference ? "\"R " : "\" ";
    }
    return out;
}

std::span<const std::uint8_t> bytesOf(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t *>(s.data()), s.size()};
}

constexpr std::size_t kEnd = SIZE_MAX; // the cursor is at the end of the data

TEST(PDFDictionary, ParseFillsEntriesAndPlacesCursor) {
    struct Case {
        std::string input;
        std::vector<Entry> entries;
        PDFResult result = PDFResult::Ok;
        std::size_t cursor = kEnd;
    };
    const Case cases[] = {
        {"<< >>tail", {}, PDFResult::Ok, 5},
        {"<<>>", {}},
        {"no dictionary", {}, PDFResult::Unspecified, 0},
        {"<", {}, PDFResult::Unspecified, 0},
        {"x<<", {}},
        {"<< /A 1 /A 2 >>", {{"A", u"1"}}},
        {"<< /Type/Catalog/Pages 3 0 R>>", {{"Type", u"Catalog"}, {"Pages", u"3 0 R", true}}},
        // A name is a value like any other (ISO 32000-1, 7.3.5), #xx decoded, keys' too.
        {"<< /S /GoTo /D [3 0 R /Fit] >>", {{"S", u"GoTo"}, {"D", u"3 0 R /Fit"}}},
        {"<< /A#42 /C#2fD#20 /T#c3#a9 /x#4 >>", {{"AB", u"C/D "}, {"T\xc3\xa9", u"x#4"}}},
        // A backslash escapes the byte after it, an escaped backslash included.
        {"<< /T (C:\\\\Temp\\\\) /A (x) >>", {{"T", u"C:\\Temp\\"}, {"A", u"x"}}},
        {"<< /T (a\\)b\\(c) /A (x) >>", {{"T", u"a)b(c"}, {"A", u"x"}}},
        // Brackets inside an array's strings do not count.
        {"<< /ID [(a[b) <5B5D>] /Root 1 0 R >>",
         {{"ID", u"(a[b) <5B5D>"}, {"Root", u"1 0 R", true}}},
        {"<< /A [[1] (x]) [2]] /B 3 >>", {{"A", u"[1] (x]) [2]"}, {"B", u"3"}}},
        // The keys of crypt filters take names as values (ISO 32000-1, 7.6.5).
        {"<< /CF << /StdCF << /CFM /AESV2 >> >> /StmF /StdCF /StrF /Identity /EFF /X >>",
         {{"CF", u"2"},
          {"CF.StdCF", u"1"},
          {"CF.StdCF.CFM", u"AESV2"},
          {"StmF", u"StdCF"},
          {"StrF", u"Identity"},
          {"EFF", u"X"}}},
        {"<< /Type >>", {{"Type", u""}}},
        {"<< /Filter /FlateDecode /Subtype//XML /Type /",
         {{"Filter", u"FlateDecode"}, {"Subtype", u"XML"}, {"Type", u""}}},
        {"<< /Kids [3 0 R 4 0 R] /Root 1 0 R /N -3.5 /B true >>",
         {{"Kids", u"3 0 R 4 0 R"}, {"Root", u"1 0 R", true}, {"N", u"-3.5"}, {"B", u"true"}}},
        // A value is one object; the tokens after it up to the next key are stepped over.
        {"<< /A 1 0 obj /B 1 2 Rx /C -1 0 R /D 1 0 /E 12 0 R\n>>",
         {{"A", u"1"}, {"B", u"1"}, {"C", u"-1"}, {"D", u"1"}, {"E", u"12 0 R", true}}},
        {"<< /E 12 % c\n 0 %\r\nR /F 1\f0\tR >>", {{"E", u"12 0 R", true}, {"F", u"1 0 R", true}}},
        {"<< /A (a\\)b) /B (a(b)c) /C (\\376\\377\\000A) /D (caf\\351) /E ( x ) /F [ 1 2 ] >>",
         {{"A", u"a)b"},
          {"B", u"a(b)c"},
          {"C", u"A"},
          {"D", u"caf\u00E9"},
          {"E", u" x "},
          {"F", u"1 2"}}},
        {"<< /A <FEFF0041> /B <48 65 6C6C6F> /C <ABC> /D <> >>",
         {{"A", u"A"}, {"B", u"Hello"}, {"C", u"\u00AB\u00C0"}, {"D", u""}}},
        {"<< /A(x)/B[1]/C<41>/D<</E 1>>/F\t2/G\r3/H\n4 >>",
         {{"A", u"x"},
          {"B", u"1"},
          {"C", u"A"},
          {"D", u"1"},
          {"D.E", u"1"},
          {"F", u"2"},
          {"G", u"3"},
          {"H", u"4"}}},
        // Every delimiter and white-space character ends a name (7.2.2), "%" a comment too.
        {"<< /I) 5 /K\f 7 /L}] 8 /J% 6\n>>", {{"I", u")"}, {"K", u"7"}, {"L", u"}"}, {"J", u""}}},
        {"<< 1 2 R (x /B 1) << /C 2 >> [/D] /A 3 (a/b) >>", {{"A", u"3"}}},
        {"<< / 1 //A 2 >>", {{"", u"1"}}},
        // Structure keywords end a dictionary left open, and stay for what reads on.
        {"<< /A 1 /B endobj /C 2", {{"A", u"1"}, {"B", u""}}, PDFResult::Ok, 11},
        {"<< /A 1 stream", {{"A", u"1"}}, PDFResult::Ok, 8},
        {"<< /A << /B 1 >> /A << /B 2 /C 3 >> /X.Y 9 /X << /Y 1 >> >>",
         {{"A", u"1"}, {"A.B", u"1"}, {"A.C", u"3"}, {"X.Y", u"9"}, {"X", u"1"}}},
        {"ab<< /A 1 > /B 2 >>", {{"A", u"1"}}, PDFResult::Ok, 10},
        {"<< /A 1 >", {{"A", u"1"}}, PDFResult::Ok, 8},
        // Left open at the end of the data.
        {"<< /A 1 /T (abc", {{"A", u"1"}, {"T", u"abc"}}},
        {"<< /H <4142", {{"H", u"AB"}}},
        {"<< /A <<", {{"A", u"0"}}},
        {"<< /A", {{"A", u""}}},
    };
    for (const std::size_t chunk : test::kChunkSizes) {
        for (const auto &c : cases) {
            SCOPED_TRACE(c.input + " / chunk " + std::to_string(chunk));
            ParserOver p(c.input, chunk);
            PDFDictionary d;
            EXPECT_EQ(d.parse(p.parser), c.result);
            EXPECT_EQ(p.cursor(), c.cursor == kEnd ? c.input.size() : c.cursor);
            const PDFDictionary expected = dictionaryOf(c.entries);
            EXPECT_EQ(d, expected) << "got:      " << show(d) << "\nexpected: " << show(expected);
        }
    }
}

TEST(PDFDictionary, ParseStartsAtOffsetAndAccumulates) {
    ParserOver p("<< /A 1 /B 2 >> << /A 9 /C 3 >>");
    PDFDictionary d;
    EXPECT_EQ(d.parse(p.parser, 3), PDFResult::Ok); // past the first "<<"
    EXPECT_EQ(d, dictionaryOf({{"A", u"9"}, {"C", u"3"}}));
    EXPECT_EQ(d.parse(p.parser, 0), PDFResult::Ok);
    EXPECT_EQ(d, dictionaryOf({{"A", u"9"}, {"B", u"2"}, {"C", u"3"}}));
    EXPECT_EQ(d.parse(p.parser, 1000), PDFResult::Unspecified);
    EXPECT_EQ(d.size(), 3u);

    MemoryParser closed;
    EXPECT_EQ(d.parse(closed, 0), PDFResult::Unspecified);
    EXPECT_EQ(d.parse(closed), PDFResult::Unspecified);
}

TEST(PDFDictionary, ParseValueReadsAnObjectBody) {
    ParserOver p("12 0 R endobj");
    PDFDictionary d;
    EXPECT_EQ(d.parseValue(p.parser, ""), PDFResult::Ok);
    EXPECT_EQ(d, dictionaryOf({{"", u"12 0 R", true}}));

    ParserOver nested("<</A 1>>");
    PDFDictionary n;
    n.parseValue(nested.parser, "");
    EXPECT_EQ(n, dictionaryOf({{"", u"1"}, {".A", u"1"}}));
}

// levels dictionaries, each but the innermost holding the next under "K<level>"; the outermost
// also holds "Y" after it.
std::string nestedDictionary(int levels, const std::string &innermost) {
    std::string s;
    for (int i = 1; i < levels; ++i)
        s += "<< /K" + std::to_string(i) + " ";
    s += innermost;
    for (int i = 2; i < levels; ++i)
        s += " >>";
    return s + " /Y 2 >>";
}

TEST(PDFDictionary, NestingIsParsedUpToTheDepthBoundAndSkippedBeyond) {
    constexpr int bound = limits::kMaxDictionaryDepth;
    std::string deepestKey = "K1";
    for (int i = 2; i < bound; ++i)
        deepestKey += ".K" + std::to_string(i);

    ParserOver within(nestedDictionary(bound, "<< /X 1 >>"));
    // A ">>" inside a string of the skipped dictionary must not end the skip.
    ParserOver beyond(nestedDictionary(bound + 1, "<< /X (a >> b) /Z <41>>>"));
    PDFDictionary d1, d2;
    d1.parse(within.parser);
    d2.parse(beyond.parser);

    EXPECT_EQ(d1.getString(deepestKey + ".X", u"missing"), u"1");
    EXPECT_EQ(d1.getString("K1", u""), u"31");
    EXPECT_EQ(d2.getString(deepestKey + ".K" + std::to_string(bound), u"missing"), u"");
    for (const auto *d : {&d1, &d2}) {
        EXPECT_EQ(d->getString("Y", u""), u"2");
        EXPECT_EQ(d->size(), static_cast<std::size_t>(bound + 1)) << show(*d);
    }
    EXPECT_EQ(beyond.cursor(), beyond.data.size());
}

TEST(PDFDictionary, HostileNestingIsBounded) {
    std::string deep, opens(2'000'000, '<'), slashes = "<< /Type ";
    for (int i = 0; i < 1'000'000; ++i)
        deep += "<</a";
    slashes += std::string(1'000'000, '/') + "X >>";
    ParserOver deepParser(deep), opensParser(opens), slashesParser(slashes);
    PDFDictionary d1, d2, d3;
    EXPECT_EQ(d1.parse(deepParser.parser), PDFResult::Ok);
    EXPECT_EQ(d2.parse(opensParser.parser), PDFResult::Ok);
    EXPECT_EQ(d3.parse(slashesParser.parser), PDFResult::Ok);
    EXPECT_EQ(d1.size(), static_cast<std::size_t>(limits::kMaxDictionaryDepth));
    EXPECT_EQ(deepParser.cursor(), deep.size());
    EXPECT_TRUE(d2.empty());
    EXPECT_EQ(d3, dictionaryOf({{"Type", u"X"}}));
}

TEST(PDFDictionary, FoldedKeysStopAtTheirByteBudget) {
    // A long key over a nested dictionary would repeat that key once per nested entry.
    const std::string key(65536, 'k');
    std::string input = "<< /" + key + " <<";
    for (int i = 0; i < 100; ++i)
        input += " /e" + std::to_string(100 + i) + " 1";
    input += " >> /" + key + "2 << /f 1 >> /Z 1 >>";
    ParserOver p(input);
    PDFDictionary d;
    d.parse(p.parser);

    const std::size_t folded = limits::kMaxFoldedKeyBytes / (key.size() + 5);
    ASSERT_LT(folded, 100u);
    EXPECT_EQ(d.getString(key, u""), u"100");
    EXPECT_TRUE(d.contains(key + ".e100"));
    EXPECT_TRUE(d.contains(key + ".e" + std::to_string(100 + folded - 1)));
    EXPECT_FALSE(d.contains(key + ".e" + std::to_string(100 + folded)));
    EXPECT_EQ(d.getString(key + "2", u""), u"1");
    EXPECT_FALSE(d.contains(key + "2.f")); // the budget is spent for the whole parse
    EXPECT_EQ(d.getString("Z", u""), u"1");
    EXPECT_EQ(d.size(), folded + 3);
}

TEST(PDFDictionary, ArbitraryBytesNeverHangOrLeaveTheData) {
    const std::string alphabet = "<<>>//()[]\\ 0R1aT\r\n";
    std::mt19937 random(1234);
    for (int round = 0; round < 20000; ++round) {
        std::string input(1 + random() % 48, ' ');
        for (char &c : input)
            c = alphabet[random() % alphabet.size()];
        ParserOver p(input);
        PDFDictionary d;
        d.parse(p.parser, 0);
        ASSERT_LE(p.cursor(), input.size()) << input;
        p.parser.seek(0);
        d.parseValue(p.parser, "Type");
        ASSERT_LE(p.cursor(), input.size()) << input;
        // Windows of two bytes split every token: the same entries, the same end.
        ParserOver q(input, 2);
        PDFDictionary e;
        e.parse(q.parser, 0);
        q.parser.seek(0);
        e.parseValue(q.parser, "Type");
        ASSERT_EQ(e, d) << input;
        ASSERT_EQ(q.cursor(), p.cursor()) << input;
    }
}

// ISO 32000-1, 7.3.4.2: the escapes of a literal string, octal codes of one to three digits
// wrapping at 8 bits, a backslash before an end of line joining the lines, an end of line in
// the string read as one LF, and an unknown escape keeping its byte.
TEST(PDFDictionary, LiteralStringEscapes_7_3_4_2) {
    struct Case {
        std::string bytes;
        bool trim;
        std::u16string expected;
    };
    const Case cases[] = {
        {"\\(\\)\\\\\\b\\f\\n\\r\\t", false, u"()\\\b\f\n\r\t"},
        {"\\101\\1011\\12x", false, u"AA1\nx"},
        {"\\0", false, std::u16string(1, u'\0')},
        {"\\8\\9\\19\\777\\999", false, u"89\u00019\u00FF999"},
        {"a\\\rb\\\r\nc\\\nd", false, u"abcd"},
        {"AutoCAD\\ 2012\\ -\\ English", false, u"AutoCAD 2012 - English"},
        {"a\\qb\\", false, u"aqb"}, // a backslash that ends the bytes escapes nothing
        {"a\rb\nc\r\nd\n\re", false, u"a\nb\nc\nd\n\ne"},
        {"C:\\\\temp\\\\", false, u"C:\\temp\\"},
        {" \\n x\f\t\r\n ", true, u"x\f"},
        {" \t x \r\n", false, u" \t x \n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.bytes);
        std::u16string out = u"stale";
        EXPECT_EQ(unescapeLiteral(bytesOf(c.bytes), out, c.trim), PDFResult::Ok);
        EXPECT_EQ(out, c.expected);
    }
}

// ISO 32000-1, 7.9.2.2 and ISO 32000-2, 7.9.2.2: a text string's bytes are UTF-16BE after
// FE FF, UTF-8 after EF BB BF, UTF-16LE after FF FE (seen in the wild), and PDFDocEncoding
// otherwise. In hexadecimal strings (7.3.4.3) white space and any other non-digit are
// skipped, and a final odd digit reads as if followed by 0.
TEST(PDFDictionary, TextStringEncodings_7_9_2_2) {
    const std::pair<std::string, std::u16string> cases[] = {
        {"48 65 6C6C6F", u"Hello"},
        {"92", u"\u2122"},
        {"336865696768747392", u"3heights\u2122"},
        {"85", u"\u2013"},
        {"8D5768793F8E", u"\u201CWhy?\u201D"},
        {"A0", u"\u20AC"},
        {"A B", u"\u00AB"},
        {"9\r6a", u"\u0152\u20AC"},
        {"AD7F9F", u"\uFFFD\uFFFD\uFFFD"},
        {"18191A1B1C1D1E1F", u"\u02D8\u02C7\u02C6\u02D9\u02DD\u02DB\u02DA\u02DC"},
        {"aBcD", u"\u00AB\u00CD"},
        {"E9FCDF", u"\u00E9\u00FC\u00DF"},
        {"zz41 4", u"A@"},
        {"4g1", u"A"},
        {"FEFF004100", u"A"},
        {"FEFFD83DDE00", u"\xD83D\xDE00"},
        {"FFFE41004200", u"AB"},
        {"FFFE4100", u"A"},
        {"EFBBBFC3A92E", u"\u00E9."},
        {"EFBBBFE282AC", u"\u20AC"},
        {"EFBBBFC328", u"\uFFFD("}, // malformed UTF-8 is replaced, not dropped
        {"EFBBBF", u""},
        {"FE", u"\u00FE"},
        {"", u""}};
    for (const auto &[hex, expected] : cases) {
        SCOPED_TRACE(hex);
        std::u16string out = u"stale";
        EXPECT_EQ(decodeHexString(bytesOf(hex), out), PDFResult::Ok);
        EXPECT_EQ(out, expected);
    }
    for (auto [text, expected] : std::vector<std::pair<std::u16string, std::u16string>>{
             {u"", u""}, {u" \r\n\t", u""}, {u"\t a b \n", u"a b"}, {u"\fa\u00A0", u"\fa\u00A0"}}) {
        trimText(text);
        EXPECT_EQ(text, expected);
    }
}

// ISO 32000-1, Annex D.2: every code of PDFDocEncoding against the table of the standard. The
// codes not listed here are those of ISO 8859-1 (and the control codes below 0x18).
TEST(PDFDictionary, PdfDocEncodingTable_AnnexD) {
    std::map<std::uint8_t, char16_t> annexD = {
        {0x18, 0x02D8 /* breve */},
        {0x19, 0x02C7 /* caron */},
        {0x1A, 0x02C6 /* circumflex */},
        {0x1B, 0x02D9 /* dotaccent */},
        {0x1C, 0x02DD /* hungarumlaut */},
        {0x1D, 0x02DB /* ogonek */},
        {0x1E, 0x02DA /* ring */},
        {0x1F, 0x02DC /* tilde */},
        {0x7F, 0xFFFD /* undefined */},
        {0x80, 0x2022 /* bullet */},
        {0x81, 0x2020 /* dagger */},
        {0x82, 0x2021 /* daggerdbl */},
        {0x83, 0x2026 /* ellipsis */},
        {0x84, 0x2014 /* emdash */},
        {0x85, 0x2013 /* endash */},
        {0x86, 0x0192 /* florin */},
        {0x87, 0x2044 /* fraction */},
        {0x88, 0x2039 /* guilsinglleft */},
        {0x89, 0x203A /* guilsinglright */},
        {0x8A, 0x2212 /* minus */},
        {0x8B, 0x2030 /* perthousand */},
        {0x8C, 0x201E /* quotedblbase */},
        {0x8D, 0x201C /* quotedblleft */},
        {0x8E, 0x201D /* quotedblright */},
        {0x8F, 0x2018 /* quoteleft */},
        {0x90, 0x2019 /* quoteright */},
        {0x91, 0x201A /* quotesinglbase */},
        {0x92, 0x2122 /* trademark */},
        {0x93, 0xFB01 /* fi */},
        {0x94, 0xFB02 /* fl */},
        {0x95, 0x0141 /* Lslash */},
        {0x96, 0x0152 /* OE */},
        {0x97, 0x0160 /* Scaron */},
        {0x98, 0x0178 /* Ydieresis */},
        {0x99, 0x017D /* Zcaron */},
        {0x9A, 0x0131 /* dotlessi */},
        {0x9B, 0x0142 /* lslash */},
        {0x9C, 0x0153 /* oe */},
        {0x9D, 0x0161 /* scaron */},
        {0x9E, 0x017E /* zcaron */},
        {0x9F, 0xFFFD /* undefined */},
        {0xA0, 0x20AC /* Euro */},
        {0xAD, 0xFFFD /* undefined */},
    };
    for (unsigned code = 0; code < 256; ++code) {
        const auto byte = static_cast<std::uint8_t>(code);
        const auto listed = annexD.find(byte);
        const char16_t expected = listed != annexD.end() ? listed->second : char16_t(code);
        EXPECT_EQ(pdfDocEncoding(byte), expected) << std::hex << code;
    }
}

TEST(PDFDictionary, IntegerAccessorsSaturateLikeWcstol) {
    struct Case {
        std::u16string text;
        std::int32_t asInt;
        std::uint64_t asUInt;
    };
    const Case cases[] = {{u"12 0 R", 12, 12},
                          {u"", 0, 0},
                          {u"-1", -1, 4294967295u},
                          {u"4000000000", INT32_MAX, 2147483647u},
                          {u"-4000000000", INT32_MIN, 2147483648u},
                          {u"2147483647", INT32_MAX, 2147483647u},
                          {u"-2147483648", INT32_MIN, 2147483648u},
                          {u"99999999999999999999999", INT32_MAX, 2147483647u},
                          {u" \t\v\f+42abc", 42, 42},
                          {u"- 5", 0, 0},
                          {u"0x1F", 0, 0},
                          {u"\u00A05", 0, 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        PDFDictionary d;
        d.set("K", {c.text, false});
        EXPECT_EQ(d.getInt("K", 77), c.asInt);
        EXPECT_EQ(d.getUInt("K"), c.asUInt);
    }
    PDFDictionary empty;
    EXPECT_EQ(empty.getInt("K", -7), -7);
    EXPECT_EQ(empty.getUInt("K"), UINT64_MAX);
}

TEST(PDFDictionary, UIntArrayExtractsLikeAStream) {
    struct Case {
        std::u16string text;
        std::vector<std::uint32_t> appended;
    };
    const Case cases[] = {
        {u"1 2 1", {1, 2, 1}},
        {u"", {}},
        {u"0 10 R", {0, 10}},
        {u"4294967295 4294967296 5", {4294967295u}},
        {u"-1 +2 3 -4294967295 -4294967296", {4294967295u, 2, 3, 1}},
        {u"1e5 2", {1}},
        {u"\t\n\v 8\f9 1-2", {8, 9, 1, 4294967294u}},
        {u"[1 2]", {}},
        {u"1\u0131", {1}}, // a code unit whose low byte is "1" is no digit
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        PDFDictionary d;
        d.set("W", {c.text, false});
        std::vector<std::uint32_t> out{7};
        d.getUIntArray("W", out);
        std::vector<std::uint32_t> expected{7};
        expected.insert(expected.end(), c.appended.begin(), c.appended.end());
        EXPECT_EQ(out, expected);

        if (std::all_of(c.text.begin(), c.text.end(), [](char16_t u) { return u < 0x80; })) {
            std::istringstream stream(std::string(c.text.begin(), c.text.end()));
            std::vector<std::uint32_t> streamed{7};
            for (std::uint32_t v; stream >> v;)
                streamed.push_back(v);
            EXPECT_EQ(out, streamed);
        }
    }
    std::vector<std::uint32_t> untouched{5, 6};
    PDFDictionary().getUIntArray("W", untouched);
    EXPECT_EQ(untouched, (std::vector<std::uint32_t>{5, 6}));
}

TEST(PDFDictionary, TextAccessorsAndMerge) {
    PDFDictionary d = dictionaryOf({{"A", u"1", true}, {"O", u"\u0141A\u00FF"}});
    EXPECT_EQ(d.getBytes("O"), (Bytes{0x41, 0x41, 0xFF}));
    EXPECT_TRUE(d.getBytes("missing").empty());
    EXPECT_EQ(d.getString("missing", u"fallback"), u"fallback");

    d.merge(dictionaryOf({{"O", u"x", true}, {"C", u"3"}}));
    EXPECT_EQ(d, dictionaryOf({{"A", u"1", true}, {"O", u"x", true}, {"C", u"3"}}));
}

} // namespace
