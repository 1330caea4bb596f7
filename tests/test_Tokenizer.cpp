#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "syntax/Tokenizer.h"

using namespace vellumtag;
using vellumtag::test::kChunkSizes;
using vellumtag::test::ParserOver;

namespace {

// The tokens of the data as "kind:text" words, so that a case reads as the stream it expects.
std::string tokens(std::string_view data, std::size_t chunk) {
    ParserOver p(data, chunk);
    Tokenizer t(p.parser);
    std::string out;
    for (int guard = 0; guard < 100; ++guard) {
        const Tokenizer::Token token = t.next();
        if (token.kind == Tokenizer::Kind::End)
            break;
        static const char *const names[] = {"end", "num", "str", "hex", "name", "[",
                                            "]",   "<<",  ">>",  "kw",  "stray"};
        if (!out.empty())
            out += ' ';
        out += names[static_cast<int>(token.kind)];
        const bool delimiter = token.kind >= Tokenizer::Kind::ArrayStart &&
                               token.kind <= Tokenizer::Kind::DictionaryEnd;
        if (!delimiter && !token.text.empty())
            out += ":" + token.text;
    }
    return out;
}

TEST(Tokenizer, ReadsTheLexicalGrammar) {
    struct Case {
        std::string data, expected;
    };
    const Case cases[] = {
        // Every white-space character of ISO 32000-1 7.2.2, NUL and form feed included.
        {std::string("1\0"
                     "2\t3\n4\f5\r6 7",
                     13),
         "num:1 num:2 num:3 num:4 num:5 num:6 num:7"},
        // A comment is white space, up to either end-of-line marker; "%" inside a string is not.
        {"1%c\r2%c\n(%x)", "num:1 num:2 str:%x"},
        {"/A%c\n/B", "name:A name:B"},
        // Strings: balanced parentheses, escapes and any byte, delimiters inside kept.
        {"(a(b)c) (x>\\t]y) (\\)) (<<)", "str:a(b)c str:x>\\t]y str:\\) str:<<"},
        {"<41 4\n2> <>", "hex:41 4\n2 hex"},
        // Names: #xx decoded; a bare "/" is the empty name; delimiters end a name.
        {"/A#20B /#41 / /x#zz/y", "name:A B name:A name name:x#zz name:y"},
        {"[/a[1]] <</K<</L 2>>>>", "[ name:a [ num:1 ] ] << name:K << name:L num:2 >> >>"},
        {"-1.5 +3 .5 true null R obj", "num:-1.5 num:+3 num:.5 kw:true kw:null kw:R kw:obj"},
        // Delimiters that start no token are strays, one byte each.
        {") } { >", "stray:) stray:} stray:{ stray:>"},
        // Unterminated at the data's end: what there is.
        {"(abc", "str:abc"},
        {"<41", "hex:41"},
    };
    for (const std::size_t chunk : kChunkSizes)
        for (const Case &c : cases)
            EXPECT_EQ(tokens(c.data, chunk), c.expected) << c.data << " / chunk " << chunk;
}

TEST(Tokenizer, SkipsWholeObjectsAndReadsHeaders) {
    struct Case {
        std::string data;
        std::string after; // the token after the first object (skipObject) or header
        bool header;       // read an object header instead of skipping an object
    };
    const Case cases[] = {
        {"<< /A << /B [0 << /P (x>\\t]y) >> ] >> /Pages 2 0 R >> /Next", "name:Next", false},
        {"[1 (]) <]> [2]] /Next", "name:Next", false},
        {"(a(b)c) /Next", "name:Next", false},
        {"1 0 obj % comment\n<< >>", "<< >>", true},
        {"1 %a\n0 %b\nobj<<>>", "<< >>", true},
        {"12 0 R", "num:12 num:0 kw:R", true}, // not a header: the cursor stays
    };
    for (const std::size_t chunk : kChunkSizes) {
        for (const Case &c : cases) {
            ParserOver p(c.data, chunk);
            Tokenizer t(p.parser);
            if (c.header) {
                std::uint32_t number = 0, generation = 0;
                t.readObjectHeader(number, generation);
            } else {
                t.skipObject();
            }
            EXPECT_EQ(tokens(c.data.substr(p.cursor()), chunk), c.after)
                << c.data << " / chunk " << chunk;
        }
    }
}

TEST(Tokenizer, BlankRunsStopAtTheLimit) {
    // One step between tokens passes at most the limit; a longer run of white space or
    // comments ends the tokens as the data's end would.
    struct Case {
        std::string blank;
        bool within;
    };
    const Case cases[] = {
        {std::string(64, ' '), true},
        {std::string(65, ' '), false},
        {"%" + std::string(62, 'c') + "\n", true},
        {"%" + std::string(80, 'c') + "\n", false},
    };
    for (const Case &c : cases) {
        ParserOver p(c.blank + "/A");
        Tokenizer t(p.parser, 64);
        EXPECT_EQ(t.next().kind == Tokenizer::Kind::Name, c.within) << c.blank.size();
    }
}

TEST(Tokenizer, TheDefaultLimitIsTheLimitsHeaders) {
    // A comment of exactly the limit is passed; one byte more ends the tokens.
    for (const std::uint64_t run :
         {limits::kMaxBlanksBetweenTokens, limits::kMaxBlanksBetweenTokens + 1}) {
        std::string data(run, 'c');
        data.front() = '%';
        data.back() = '\n';
        ParserOver p(data + "/A");
        Tokenizer t(p.parser);
        EXPECT_EQ(t.next().kind == Tokenizer::Kind::Name, run == limits::kMaxBlanksBetweenTokens)
            << run;
    }
}

} // namespace
