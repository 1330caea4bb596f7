#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "Utf8StreamDecoder.h"

using vellumtag::Utf8StreamDecoder;

namespace {

struct Case {
    const char *name;
    std::string_view bytes;
    std::u16string_view text;     // the whole decoded
    std::u16string_view finished; // what of it only finish() gives: a sequence cut off at the end
};

const Case kCases[] = {
    {"ASCII", "Title", u"Title", u""},
    {"two, three and four bytes", "\xC3\xBC\xE2\x80\x94\xF0\x9F\x93\x9A!",
     u"\u00FC\u2014\U0001F4DA!", u""},
    {"a line of the sample title", "\xC3\x9Cn\xC3\xAF \xE6\x97\xA5\xE6\x9C\xAC\n",
     u"\u00DCn\u00EF \u65E5\u672C\n", u""},
    {"a stray continuation byte",
     "a\x80\xBF"
     "b",
     u"a\uFFFD\uFFFDb", u""},
    {"a sequence broken by ASCII",
     "\xE6\x97"
     "a",
     u"\uFFFDa", u""},
    {"an overlong form", "\xC0\xAF\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD", u""},
    {"an encoded surrogate", "\xED\xA0\x80z", u"\uFFFD\uFFFD\uFFFDz", u""},
    {"beyond U+10FFFF", "\xF4\x90\x80\x80\xF5", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD", u""},
    {"two bytes of three at the end", "ok\xE6\x97", u"ok\uFFFD", u"\uFFFD"},
    {"three bytes of four at the end", "\xF0\x9F\x93", u"\uFFFD", u"\uFFFD"},
    {"a lone lead byte at the end", "x\xC3", u"x\uFFFD", u"\uFFFD"},
    {"a bad second byte at the end", "\xE0\x80", u"\uFFFD\uFFFD", u""},
};

std::u16string decodeInPieces(std::string_view bytes, std::size_t first, std::size_t second,
                              std::u16string *beforeFinish = nullptr) {
    Utf8StreamDecoder decoder;
    std::u16string out;
    decoder.decode(bytes.substr(0, first), out);
    decoder.decode(bytes.substr(first, second - first), out);
    decoder.decode(bytes.substr(second), out);
    if (beforeFinish != nullptr)
        *beforeFinish = out;
    decoder.finish(out);
    return out;
}

} // namespace

// Wherever a buffer boundary falls, even twice within one sequence, the text is the same as
// from the bytes in one piece.
TEST(Utf8StreamDecoder, EveryCutGivesTheTextOfTheWhole) {
    for (const auto &c : kCases) {
        for (std::size_t first = 0; first <= c.bytes.size(); ++first) {
            for (std::size_t second = first; second <= c.bytes.size(); ++second) {
                EXPECT_EQ(decodeInPieces(c.bytes, first, second), c.text)
                    << c.name << ", cut at " << first << " and " << second;
            }
        }
    }
}

// What is complete shows at once: only a sequence that more bytes could finish waits.
TEST(Utf8StreamDecoder, OnlyAnUnfinishedSequenceWaits) {
    for (const auto &c : kCases) {
        std::u16string shown;
        decodeInPieces(c.bytes, c.bytes.size(), c.bytes.size(), &shown);
        EXPECT_EQ(shown + std::u16string(c.finished), c.text) << c.name;
    }
}
