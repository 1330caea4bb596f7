#include <gtest/gtest.h>

#include <string>
#include <zlib.h>

#include "TestSupport.h"
#include "objects/Adler32.h"
#include "objects/FlateStream.h"
#include "objects/PDFObject.h"

using namespace vellumtag;
using vellumtag::test::ParserOver;

namespace {

std::string compressed(const std::string &plain) {
    uLongf size = compressBound(static_cast<uLong>(plain.size()));
    std::string out(size, '\0');
    compress(reinterpret_cast<Bytef *>(out.data()), &size,
             reinterpret_cast<const Bytef *>(plain.data()), static_cast<uLong>(plain.size()));
    out.resize(size);
    return out;
}

std::string streamObject(const std::string &dictionary, const std::string &data) {
    return "7 0 obj\n<< " + dictionary + " >>\nstream\r\n" + data + "\nendstream\nendobj\n";
}

struct Read {
    PDFResult result;
    std::string data;
    PDFObject object;
};

// Reads the object in memory and through windows of a few bytes; both must agree.
Read readAt(const std::string &bytes, std::uint64_t offset = 0) {
    Read r{PDFResult::Ok, {}, {}};
    for (const std::size_t chunk : test::kChunkSizes) {
        ParserOver over(bytes, chunk);
        PDFObject object;
        const PDFResult result = object.read({over.parser}, offset);
        if (chunk == 0) {
            r.result = result;
            r.object = object;
            r.data.assign(object._data.begin(), object._data.end());
        } else {
            EXPECT_EQ(result, r.result) << chunk;
            EXPECT_EQ(object._data, r.object._data) << chunk;
            EXPECT_EQ(object._dictionary, r.object._dictionary) << chunk;
        }
    }
    return r;
}

TEST(PDFObject, StreamsAndTheirLength) {
    struct Case {
        std::string bytes;
        PDFResult result;
        std::string data;
    };
    const Case cases[] = {
        {streamObject("/Length 5", "hello"), PDFResult::Ok, "hello"},
        // One line end follows "stream"; the data's own first bytes stay, whatever they are.
        {"7 0 obj\n<< /Length 4 >>\nstream\r\n\n abcdef", PDFResult::Ok, "\n ab"},
        {"7 0 obj\n<< /Length 4 >>\nstream\n\r\n xy", PDFResult::Ok, "\r\n x"},
        {"7 0 obj\n<< /Length 4 >>\nstream  \r\nabcd", PDFResult::Ok, "abcd"},
        {"7 0 obj\n<< /Length 4 >>\nstream\rabcd", PDFResult::Ok, "abcd"},
        {"7 0 obj\n<< /Length 4 >>stream\nabcd", PDFResult::Ok, "abcd"},
        // Any run of white space may come between the dictionary and "stream".
        {"7 0 obj\n<< /Length 4 >>\r\n\r\n\r\nstream\nabcd", PDFResult::Ok, "abcd"},
        {"7 0 obj\n<< /Length 4 >>" + std::string(40, ' ') + "\nstream\nabcd", PDFResult::Ok,
         "abcd"},
        {"7 0 obj\n<< /Length 4 >>\nendobj\n8 0 obj\n<< /Length 4 >>\nstream\nabcd", PDFResult::Ok,
         ""},
        // ISO 32000-1, 7.3.8.1: where "endstream" does not follow /Length bytes, or /Length is
        // missing or cannot be resolved (no index here), the data end at the keyword, less the
        // end of line before it.
        {"7 0 obj\n<< /Length 9 0 R >>\nstream\n0123456789abc\r\nendstream", PDFResult::Ok,
         "0123456789abc"},
        {"7 0 obj\n<< /Length 400 >>\nstream\nshort\nendstream", PDFResult::Ok, "short"},
        {"7 0 obj\n<< /Length 2 >>\nstream\nshort\rendstream", PDFResult::Ok, "short"},
        {"7 0 obj\n<< /Length -3 >>\nstream\nshortendstream", PDFResult::Ok, "short"},
        {"7 0 obj\n<< /Type /X >>\nstream\n\nendstream", PDFResult::Ok, ""},
        {"7 0 obj\n<< /Length 5 >>\nstream\nhello  \n endstream", PDFResult::Ok, "hello"},
        // Without the keyword: /Length bytes, or as many as there are.
        {"7 0 obj\n<< /Length 400 >>\nstream\nshort", PDFResult::Ok, "short"},
        {"7 0 obj\n<< /Type /X >>\nstream\nabcd", PDFResult::BadValue, ""},
        {streamObject("/Length 5 /Filter /ASCIIHexDecode", "41424"), PDFResult::BadValue, "41424"},
        {streamObject("/Length 5 /Filter /flatedecode", "xxxxx"), PDFResult::BadValue, "xxxxx"},
        // 7.3.8.2: filters may be an array; FlateDecode is tried, and the first other filter
        // ends the read.
        {streamObject("/Length 5 /Filter [/FlateDecode]", "xxxxx"), PDFResult::DecompressionFailed,
         "xxxxx"},
        {streamObject("/Length 5 /Filter [ ]", "xxxxx"), PDFResult::Ok, "xxxxx"},
        {streamObject("/Length 5 /Filter [/ASCII85Decode /FlateDecode]", "xxxxx"),
         PDFResult::BadValue, "xxxxx"},
    };
    for (const auto &c : cases) {
        const Read r = readAt(c.bytes);
        EXPECT_EQ(r.result, c.result) << c.bytes;
        EXPECT_EQ(r.data, c.data) << c.bytes;
    }
    const Read r = readAt(cases[0].bytes);
    EXPECT_EQ(r.object._objectNumber, 7u);
    EXPECT_EQ(r.object._generation, 0u);
    EXPECT_EQ(r.object._dictionary.getString("Length", u""), u"5");
}

TEST(PDFObject, HeadersAndDirectValues) {
    struct Case {
        std::string bytes;
        PDFResult result;
        std::string data;
    };
    const Case cases[] = {
        {"3 0 obj\n(Caf\\351 au lait)\nendobj", PDFResult::Ok, "Caf\xE9 au lait"},
        {"3 0 obj\n<FEFF00410042>\nendobj", PDFResult::Ok, "AB"},
        {"3 0 obj 42\nendobj\n4 0 obj\n<< /Type /Page >>", PDFResult::Ok, "42"},
        {"3 0 obj\n<< /A 1 >>\nendobj", PDFResult::Ok, ""},
        // Comments are white space, in the header too (ISO 32000-1, 7.2.3).
        {std::string(24, ' ') + "3 0 obj (x)", PDFResult::Ok, "x"},
        {"% 3 0 obj\n3 %c\n0 obj% c\n%\r\n (x)", PDFResult::Ok, "x"},
        {"3 0 obj % comment to the end", PDFResult::ObjectContentUnreadable, ""},
        {"3 0 % obj\n (x)", PDFResult::ObjectNotFound, ""},
        {"3 obj (x)", PDFResult::ObjectNotFound, ""},
        {"3 0 obj   \r\n", PDFResult::ObjectContentUnreadable, ""},
        {"", PDFResult::ObjectNotFound, ""},
    };
    for (const auto &c : cases) {
        const Read r = readAt(c.bytes);
        EXPECT_EQ(r.result, c.result) << c.bytes;
        EXPECT_EQ(r.data, c.data) << c.bytes;
    }
}

TEST(PDFObject, FlateDecodeStreams) {
    const std::string text = "<x:xmpmeta>Some metadata</x:xmpmeta>";
    const std::string zeros(100000, '\0');
    const std::string z = compressed(text);
    // The same stream with the last byte of its Adler-32 trailer changed, and without it.
    std::string badCheck = z;
    badCheck.back() = static_cast<char>(badCheck.back() ^ 1);
    const std::string noCheck = z.substr(0, z.size() - 1);
    struct Case {
        std::string data;
        std::string length;
        PDFResult result;
        std::string decoded;
    };
    const Case cases[] = {
        {z, std::to_string(z.size()), PDFResult::Ok, text},
        {z + "trailing garbage", std::to_string(z.size() + 16), PDFResult::Ok, text},
        {compressed(zeros), std::to_string(compressed(zeros).size()), PDFResult::Ok, zeros},
        // A /Length that "endstream" does not follow is wrong: the data end at the keyword.
        {z, "0", PDFResult::Ok, text},
        {z, std::to_string(z.size() - 5), PDFResult::Ok, text},
        {badCheck, std::to_string(z.size()), PDFResult::DecompressionFailed, badCheck},
        {badCheck + "more", std::to_string(z.size() + 4), PDFResult::DecompressionFailed, ""},
        {noCheck, std::to_string(noCheck.size()), PDFResult::DecompressionFailed, noCheck},
        {"not zlib data", "13", PDFResult::DecompressionFailed, "not zlib data"},
    };
    for (const auto &c : cases) {
        const Read r = readAt(streamObject("/Filter /FlateDecode /Length " + c.length, c.data));
        EXPECT_EQ(r.result, c.result) << c.length;
        if (c.result == PDFResult::Ok)
            EXPECT_EQ(r.data, c.decoded);
        else
            EXPECT_EQ(r.data.size(), std::stoul(c.length)) << "left as it was";
    }
}

// The sums are checked against zlib's adler32 at the lengths where the vector steps and the
// reductions change hands, over bytes that make the sums largest and over varied ones.
TEST(Adler32, AgreesWithZlib) {
    std::string varied(20000, '\0');
    for (std::size_t i = 0; i < varied.size(); ++i)
        varied[i] = static_cast<char>((i * 7919 + i / 13) & 0xFF);
    const std::string contents[] = {std::string(20000, '\xFF'), std::string(20000, '\0'), varied};
    for (const std::string &content : contents) {
        for (std::size_t length : {0, 1, 15, 16, 17, 31, 5551, 5552, 5553, 11104, 11121, 20000}) {
            const std::span bytes(reinterpret_cast<const std::uint8_t *>(content.data()), length);
            const auto expected = static_cast<std::uint32_t>(
                adler32(1, bytes.data(), static_cast<uInt>(bytes.size())));
            EXPECT_EQ(Adler32::update(Adler32::kInitial, bytes), expected) << length;
            // Continued from an earlier piece, as over data that come in parts.
            const std::size_t half = length / 3;
            EXPECT_EQ(Adler32::update(Adler32::update(Adler32::kInitial, bytes.first(half)),
                                      bytes.subspan(half)),
                      expected)
                << length;
        }
    }
}

TEST(PDFObject, InflateStopsAtTheStreamLimit) {
    const std::string bomb = test::zeroBomb((limits::kMaxStreamBytes >> 20) + 1);
    const std::string fits = test::zeroBomb(limits::kMaxStreamBytes >> 20);
    Bytes data(bomb.begin(), bomb.end());
    EXPECT_EQ(PDFObject::flateDecode(data), PDFResult::DecompressionFailed);
    EXPECT_EQ(data.size(), bomb.size());
    data.assign(fits.begin(), fits.end());
    EXPECT_EQ(PDFObject::flateDecode(data), PDFResult::Ok);
    EXPECT_EQ(data.size(), limits::kMaxStreamBytes);
}

// Text that deflates to about a third, so that a prefix of the output comes from a prefix of
// the input and damage near the end of the input leaves the start of the output intact.
std::string variedText(std::size_t size) {
    std::string text;
    std::uint32_t state = 12345;
    while (text.size() < size) {
        state = state * 1103515245 + 12345;
        text += "word" + std::to_string(state >> 20) + ((state & 0x700) == 0 ? "\n" : " ");
    }
    text.resize(size);
    return text;
}

std::span<const std::uint8_t> bytesOf(const std::string &text) {
    return {reinterpret_cast<const std::uint8_t *>(text.data()), text.size()};
}

std::string textOf(const Bytes &bytes) { return std::string(bytes.begin(), bytes.end()); }

// A prefix is inflated to exactly the size asked for, a later call goes on from there, and the
// whole comes out equal to the original, whatever size the caller expected.
TEST(FlateStream, PrefixesThenTheRest) {
    const std::string plain = variedText(300000);
    const std::string z = compressed(plain);
    struct Case {
        std::vector<std::size_t> sizes; // SIZE_MAX: the whole
        std::size_t expected;
    };
    const Case cases[] = {
        {{SIZE_MAX}, 0},
        {{SIZE_MAX}, plain.size()},
        {{SIZE_MAX}, 1},
        {{SIZE_MAX}, plain.size() * 10},
        {{SIZE_MAX}, SIZE_MAX / 2}, // more than the input could ever give: not believed
        {{1, 300, 299, 4096, 200000, SIZE_MAX}, 0},
        {{0, 299999, 300000}, 0},
        {{400000}, 0}, // more than there is: the whole, and the checksum compared
    };
    for (const auto &c : cases) {
        FlateStream stream(bytesOf(z), c.expected);
        std::size_t reached = 0;
        for (const std::size_t size : c.sizes) {
            ASSERT_EQ(stream.inflateTo(size, limits::kMaxStreamBytes), PDFResult::Ok) << size;
            reached = std::max(reached, std::min(size, plain.size()));
            EXPECT_EQ(stream.output().size(), reached) << size;
            EXPECT_EQ(textOf(stream.output()), plain.substr(0, reached)) << size;
        }
        EXPECT_EQ(stream.ended(), reached == plain.size());
    }
}

// Damage stops the inflation where it lies (a wrong Adler-32 at the end): what came out before
// it stays usable, and the whole fails, each time it is asked for.
TEST(FlateStream, DamageFailsOnlyWhatLiesBeyondIt) {
    const std::string plain = variedText(300000);
    const std::string z = compressed(plain);
    std::string badCheck = z, badTail = z;
    badCheck.back() = static_cast<char>(badCheck.back() ^ 1);
    for (std::size_t i = badTail.size() - 2000; i < badTail.size() - 1000; ++i)
        badTail[i] = static_cast<char>(badTail[i] ^ 0x5A);
    const std::string cut = z.substr(0, z.size() / 2);
    for (const std::string &damaged : {badCheck, badTail, cut}) {
        const std::string *data = &damaged;
        FlateStream stream(bytesOf(*data));
        EXPECT_EQ(stream.inflateTo(50000, limits::kMaxStreamBytes), PDFResult::Ok);
        EXPECT_EQ(textOf(stream.output()), plain.substr(0, 50000));
        EXPECT_EQ(stream.inflateAll(limits::kMaxStreamBytes), PDFResult::DecompressionFailed);
        EXPECT_FALSE(stream.ended());
        EXPECT_EQ(stream.inflateTo(40000, limits::kMaxStreamBytes), PDFResult::Ok);
        EXPECT_EQ(stream.inflateAll(limits::kMaxStreamBytes), PDFResult::DecompressionFailed);
        Bytes whole(data->begin(), data->end());
        EXPECT_EQ(PDFObject::flateDecode(whole), PDFResult::DecompressionFailed);
    }
}

// The limit holds for prefixes and for the whole, whatever size was expected.
TEST(FlateStream, OutputStopsAtTheLimit) {
    const std::string plain = variedText(100000);
    const std::string z = compressed(plain);
    for (const std::size_t expected : {std::size_t{0}, plain.size()}) {
        FlateStream stream(bytesOf(z), expected);
        EXPECT_EQ(stream.inflateTo(60000, 70000), PDFResult::Ok);
        EXPECT_EQ(stream.inflateTo(80000, 70000), PDFResult::DecompressionFailed);
        EXPECT_EQ(textOf(stream.output()), plain.substr(0, 70000));
        FlateStream exact(bytesOf(z), expected);
        EXPECT_EQ(exact.inflateAll(plain.size()), PDFResult::Ok);
        EXPECT_EQ(exact.output().size(), plain.size());
    }
}

TEST(PDFObject, StoredStreamsAboveTheLimitAreRefused) {
    const std::string big(limits::kMaxStreamBytes + 1, 'x');
    const Read r = readAt(streamObject("/Length " + std::to_string(big.size()), big));
    EXPECT_EQ(r.result, PDFResult::BadValue);
    EXPECT_TRUE(r.data.empty());
}

// White space between the dictionary and "stream", or between the data and "endstream", is
// stepped over up to limits::kMaxBlankRun bytes.
TEST(PDFObject, BlankRunsEndAtTheirLimit) {
    const std::size_t most = limits::kMaxBlankRun;
    const auto object = [](std::size_t beforeStream, std::size_t beforeEnd) {
        return "7 0 obj\n<< /Length 4 >>" + std::string(beforeStream, '\0') + "stream\nabcd" +
               std::string(beforeEnd, ' ') + "endstream\nendobj\n";
    };
    EXPECT_EQ(readAt(object(most, 1)).data, "abcd");
    EXPECT_EQ(readAt(object(most + 1, 1)).data, "") << "no stream after so many blanks";
    EXPECT_EQ(readAt(object(1, most)).data, "abcd");
    // /Length is not confirmed: the data run up to the keyword.
    EXPECT_EQ(readAt(object(1, most + 1)).data, "abcd" + std::string(most + 1, ' '));
}

TEST(PDFObject, FilterArraysApplyEachFilterInTurn) {
    const std::string text = "twice deflated";
    const std::string twice = compressed(compressed(text));
    const Read r = readAt(streamObject(
        "/Length " + std::to_string(twice.size()) + " /Filter [/FlateDecode /FlateDecode]", twice));
    EXPECT_EQ(r.result, PDFResult::Ok);
    EXPECT_EQ(r.data, text);
    EXPECT_EQ(PDFObject::filterNames(u"[ /FlateDecode/DCTDecode\n]"),
              (std::vector<std::u16string>{u"FlateDecode", u"DCTDecode"}));
}

// An indirect /Length is read from its object in the file, once: neither the object's own
// stream nor one of a cycle is read for it, and where it fails the keyword decides.
TEST(PDFObject, IndirectLengthsAreResolvedWithoutFollowingFurther) {
    struct Case {
        const char *lengthObject; // object 9
        std::string data;
        std::string expected;
    };
    const Case cases[] = {
        {"5", "hello", "hello"},
        {"3", "hello, and some more", "hello, and some more"},
        // A /Length that "endstream" confirms wins over a keyword inside the data.
        {"13", "a endstream b", "a endstream b"},
        {"(5)", "hello", "hello"}, // not an integer: up to "endstream"
        {"-5", "hello", "hello"},
        {"<< /Length 9 0 R >>\nstream\nxx\nendstream", "hello", "hello"},
    };
    for (const auto &c : cases) {
        for (const std::size_t chunk : test::kChunkSizes) {
            // Object 9 carries the length; object 8 names itself as its length.
            const std::string file =
                test::PdfBuilder()
                    .object(7, "<< /Length 9 0 R >>\nstream\n" + c.data + "\nendstream")
                    .object(8, "<< /Length 8 0 R >>\nstream\n" + c.data + "\nendstream")
                    .object(9, c.lengthObject)
                    .build("");
            test::Reading reading(file, chunk);
            ASSERT_EQ(reading.xref.readSection(reading.over.parser.findXrefOffset(1024)),
                      PDFResult::Ok);
            PDFObject seven, eight;
            EXPECT_EQ(reading.objects.readObject(7, seven), PDFResult::Ok) << c.lengthObject;
            EXPECT_EQ(std::string(seven._data.begin(), seven._data.end()), c.expected)
                << c.lengthObject << " chunk " << chunk;
            EXPECT_EQ(reading.objects.readObject(8, eight), PDFResult::Ok);
            const std::string own(eight._data.begin(), eight._data.end());
            EXPECT_EQ(own, c.data.substr(0, c.data.find("endstream"))) << c.lengthObject;
        }
    }
}

TEST(PDFObject, ReadsAtAnOffsetOrAtTheCursor) {
    ParserOver over("junk 5 0 obj (five) endobj");
    PDFObject object;
    ASSERT_EQ(object.read({over.parser}, 5), PDFResult::Ok);
    EXPECT_EQ(object._objectNumber, 5u);
    over.parser.seek(5);
    ASSERT_EQ(object.read({over.parser}, PDFObject::kAtCursor), PDFResult::Ok);
    EXPECT_EQ(std::string(object._data.begin(), object._data.end()), "five");
    EXPECT_EQ(object.read({over.parser}, 1000), PDFResult::ObjectNotFound);
}

} // namespace
