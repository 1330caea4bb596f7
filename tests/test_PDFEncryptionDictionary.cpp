#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "TestSupport.h"
#include "security/MD5.h"
#include "security/PDFEncryptionDictionary.h"
#include "security/RC4.h"

using namespace vellumtag;
using vellumtag::test::ParserOver;

namespace {

std::string hexOf(std::span<const std::uint8_t> bytes) {
    std::string out;
    for (const std::uint8_t b : bytes)
        out += "0123456789abcdef"[b >> 4], out += "0123456789abcdef"[b & 15];
    return out;
}

Bytes fromHex(std::string_view hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), 0, 16)));
    return out;
}

Bytes bytesOf(std::string_view s) { return Bytes(s.begin(), s.end()); }

std::string readFile(const std::string &relative) {
    std::ifstream in(std::filesystem::path(VELLUMTAG_SOURCE_DIR) / relative, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Offset of "N 0 obj" at the start of a line. Built by appending: GCC 12 at -O3 reports a false
// -Wrestrict for "x" + std::string&&.
std::size_t objectOffset(const std::string &file, std::int32_t number) {
    std::string header("\n");
    return file.find(header.append(std::to_string(number)).append(" 0 obj")) + 1;
}

std::string replaced(std::string bytes, const std::string &from, const std::string &to) {
    if (!from.empty())
        bytes.replace(bytes.find(from), from.size(), to);
    return bytes;
}

// The trailer of a file's last section.
PDFDictionary trailerOf(ParserOver &over) {
    PDFDictionary trailer;
    trailer.parse(over.parser, over.data.rfind("trailer"));
    return trailer;
}

// A file of tests/data, with its trailer and /Encrypt object set up as the cross-reference
// reader does; "from" is replaced by "to" in the bytes first.
struct Encrypted {
    explicit Encrypted(const std::string &name, const std::string &from = "",
                       const std::string &to = "")
        : over(replaced(readFile("tests/data/" + name), from, to)), trailer(trailerOf(over)),
          enc(trailer.getString("ID", u"")) {}
    PDFResult load() {
        return enc.load(over.parser, objectOffset(over.data, trailer.getInt("Encrypt", 0)));
    }
    // The information dictionary, passed through decryptStrings.
    PDFDictionary info(PDFResult expected) {
        PDFDictionary d;
        const std::int32_t number = trailer.getInt("Info", 0);
        d.parse(over.parser, objectOffset(over.data, number));
        EXPECT_EQ(enc.decryptStrings(d, static_cast<std::uint32_t>(number), 0), expected);
        return d;
    }
    ParserOver over;
    PDFDictionary trailer;
    PDFEncryptionDictionary enc;
};

// RC4 over the low byte of every code unit, the high byte kept: how strings read one byte per
// unit are decrypted.
std::u16string rc4Text(std::u16string text, const Bytes &key) {
    RC4 rc4(key);
    for (char16_t &unit : text)
        unit = static_cast<char16_t>(unit ^ rc4.next());
    return text;
}

PDFDictionary helloInfo() {
    ParserOver hello(readFile("samples/hello.pdf"));
    PDFDictionary d;
    d.parse(hello.parser, objectOffset(hello.data, 4));
    return d;
}

TEST(MD5, Rfc1321SuiteAndBlockBoundaries) {
    const std::pair<std::string, const char *> cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"1234567890123456789012345678901234567890123456789012345678901234567890"
         "1234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
        {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
        {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
    };
    for (const auto &[message, digest] : cases)
        EXPECT_EQ(hexOf(MD5::digest(bytesOf(message))), digest) << message.size();
}

TEST(MD5, PiecesOfAnySizeEqualOneShot) {
    Bytes message(1000);
    for (std::size_t i = 0; i < message.size(); ++i)
        message[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    const MD5::Digest expected = MD5::digest(message);
    MD5 md5; // reused: final makes it ready for the next message
    for (std::size_t piece = 1; piece <= 130; ++piece) {
        for (std::size_t at = 0; at < message.size(); at += piece)
            md5.update(std::span(message).subspan(at, std::min(piece, message.size() - at)));
        EXPECT_EQ(md5.final(), expected) << piece;
    }
}

TEST(RC4, PublishedVectors) {
    const std::tuple<Bytes, Bytes, const char *> cases[] = {
        // RFC 6229, keystream at offsets 0 and 16.
        {fromHex("0102030405"), Bytes(32),
         "b2396305f03dc027ccc3524a0a1118a86982944f18fc82d589c403a47a0d0919"},
        {fromHex("0102030405060708090a0b0c0d0e0f10"), Bytes(16),
         "9ac7cc9a609d1ef7b2932899cde41b97"},
        {bytesOf("Key"), bytesOf("Plaintext"), "bbf316e8d940af0ad3"},
        {bytesOf("Wiki"), bytesOf("pedia"), "1021bf0420"},
        {bytesOf("Secret"), bytesOf("Attack at dawn"), "45a01f645fc35b383552544b9bf5"},
    };
    for (const auto &[key, plain, cipher] : cases) {
        Bytes whole = plain;
        RC4(key).process(whole);
        EXPECT_EQ(hexOf(whole), cipher);
        Bytes pieces = plain; // one keystream across calls
        RC4 rc4(key);
        rc4.process(std::span(pieces).first(3));
        rc4.process(std::span(pieces).subspan(3));
        EXPECT_EQ(hexOf(pieces), cipher);
    }
    Bytes unkeyed = bytesOf("abc");
    RC4(Bytes{}).process(unkeyed);
    EXPECT_EQ(unkeyed, bytesOf("abc")) << "no key, no keystream";
}

TEST(PDFEncryptionDictionary, FilesMadeByQpdf) {
    struct Case {
        const char *file, *from, *to;
        PDFResult result;
        bool opens; // the decrypted /Info equals that of samples/hello.pdf
    };
    constexpr PDFResult ok = PDFResult::Ok, no = PDFResult::EncryptionUnsupported;
    const Case cases[] = {
        {"encrypted-r2.pdf", "", "", ok, true},
        {"encrypted-r3.pdf", "", "", ok, true},
        {"encrypted-r2-user-password.pdf", "", "", no, false},
        {"encrypted-r3-user-password.pdf", "", "", no, false},
        {"encrypted-aes128.pdf", "", "", no, false},
        {"encrypted-aes256.pdf", "", "", no, false},
        {"encrypted-cleartext-metadata.pdf", "", "", ok, false}, // strings stay as stored
        // /V and /R are each checked against their own range only.
        {"encrypted-r2.pdf", "/V 1", "/V 2", ok, true},
        {"encrypted-r3.pdf", "/V 2", "/V 1", ok, true},
        {"encrypted-r3.pdf", "/R 3", "/R 4", no, false},
        // Keys: 5 bytes without /Length, at most 16 bytes.
        {"encrypted-r2.pdf", "/Length 40 ", "", ok, true},
        {"encrypted-r3.pdf", "/Length 128", "/Length 256", ok, true},
        // The same bits as -4, but beyond 2^31 - 1 the value saturates.
        {"encrypted-r3.pdf", "/P -4", "/P 4294967292", no, false},
        {"encrypted-r3.pdf", "/ID", "/NoID", no, false},
    };
    for (const Case &c : cases) {
        Encrypted e(c.file, c.from, c.to);
        const std::string name = std::string(c.file) + " " + c.to;
        EXPECT_EQ(e.load(), c.result) << name;
        EXPECT_EQ(e.enc._ready, c.result == ok) << name;
        const PDFDictionary info = e.info(c.result == ok ? ok : no);
        EXPECT_EQ(info == helloInfo(), c.opens) << name;
    }
}

TEST(PDFEncryptionDictionary, DecryptsStreamData) {
    const std::string plain = readFile("samples/xmp-only.pdf");
    Encrypted e("encrypted-r3-xmp.pdf");
    ASSERT_EQ(e.load(), PDFResult::Ok);
    const auto streamOf = [](const std::string &file, std::int32_t number) {
        const std::size_t at = file.find("stream\n", objectOffset(file, number)) + 7;
        return bytesOf(std::string_view(file).substr(at, 910));
    };
    Bytes data = streamOf(e.over.data, 2);
    EXPECT_EQ(e.enc.decryptStream(data, 2, 0), PDFResult::Ok);
    EXPECT_EQ(data, streamOf(plain, 6));
}

TEST(PDFEncryptionDictionary, UserEntryComparison) {
    for (const char *file : {"encrypted-r2.pdf", "encrypted-r3.pdf"}) {
        Encrypted e(file);
        ASSERT_EQ(e.load(), PDFResult::Ok);
        const std::u16string u = e.enc.getString("U", u"");
        const bool r3 = e.enc._r == 3;
        const auto check = [&](std::u16string text) {
            e.enc.set("U", {std::move(text), false});
            return r3 ? e.enc.checkUserPasswordR3() : e.enc.checkUserPasswordR2();
        };
        EXPECT_EQ(check(u.substr(0, 16)), r3) << file; // R3 compares only 16 units
        EXPECT_EQ(check(u + u'x'), r3) << file;
        EXPECT_FALSE(check(std::u16string(u).replace(15, 1, 1, char16_t(u[15] ^ 1)))) << file;
        EXPECT_FALSE(check(std::u16string(u).replace(0, 1, 1, char16_t(u[0] | 0x100)))) << file;
    }
}

TEST(PDFEncryptionDictionary, HandWrittenDictionaries) {
    // An empty RC4 key would leave the padding as it is, matching this /U.
    const std::string padding = "28bf4e5e4e758a4164004e56fffa01082e2e00b6d0683e802f0ca9fe6453697a";
    const std::pair<std::string, PDFResult> cases[] = {
        {"5 0 obj << /Filter /Standard /V 4 /R 4 /Length 128 >>", PDFResult::EncryptionUnsupported},
        {"<< /Filter /Standard /V 5 /R 6 /Length 256 >>", PDFResult::EncryptionUnsupported},
        {"<< /Filter /Standard /V 3 /R 3 >>", PDFResult::EncryptionUnsupported},
        {"<< /Filter /Standard /V 1 /R 1 >>", PDFResult::EncryptionUnsupported},
        {"<< /Filter /StandardX /V 1 /R 2 >>", PDFResult::EncryptionUnsupported},
        {"<< /V 1 /R 2 /EncryptMetadata true >>", PDFResult::EncryptionUnsupported},
        {"<< /Filter /Standard /V 1 /R 2 /Length 7 /U <" + padding + "> >>",
         PDFResult::EncryptionUnsupported},
        {"<< /EncryptMetadata false /Filter /Other /V 4 >>", PDFResult::Ok},
        {"<< /EncryptMetadata 0 >>", PDFResult::Ok}, // anything but "true" is false
        {"no dictionary", PDFResult::Unspecified},
    };
    for (const auto &[dictionary, result] : cases) {
        ParserOver over(dictionary);
        PDFEncryptionDictionary enc;
        EXPECT_EQ(enc.load(over.parser, 0), result) << dictionary;
        EXPECT_EQ(enc._ready, result == PDFResult::Ok) << dictionary;
        EXPECT_TRUE(enc._fileKey.empty()) << dictionary;
        PDFDictionary d;
        d.set("Title", {u"x", false});
        EXPECT_EQ(enc.decryptStrings(d, 1, 0),
                  result == PDFResult::Ok ? PDFResult::Ok : PDFResult::EncryptionUnsupported);
        EXPECT_EQ(d.getString("Title", u""), u"x");
        Bytes data = bytesOf("x"); // never without /Filter Standard
        EXPECT_EQ(enc.decryptStream(data, 1, 0), PDFResult::EncryptionUnsupported);
        EXPECT_EQ(data, bytesOf("x"));
    }
}

TEST(PDFEncryptionDictionary, FirstFileId) {
    const std::pair<const char16_t *, const char *> cases[] = {
        {u"<0123><4567>", "0123"}, {u" <aBc> <DEF>", "ab0c"}, {u"<1G2>", "0102"},
        {u"<-F>", "f1"},           {u"<0102", "0102"},        {u"<>", ""},
        {u"(12) (34)", ""},        {u"(12) <34>", "34"},      {u"> <01>", ""},
    };
    EXPECT_TRUE(PDFEncryptionDictionary().firstFileId().empty());
    for (const auto &[id, bytes] : cases)
        EXPECT_EQ(hexOf(PDFEncryptionDictionary(id).firstFileId()), bytes) << bytes;
}

// ISO 32000-1, 7.6.2, Algorithm 1: the file key, the low three bytes of the object number and
// the low two of the generation, least significant first; min(n + 5, 16) bytes of the digest.
TEST(PDFEncryptionDictionary, ObjectKey) {
    struct Case {
        const char *file, *from, *to;
        std::uint32_t number, generation;
        const char *suffix;
        std::size_t length;
    };
    const Case cases[] = {
        {"encrypted-r2.pdf", "", "", 1, 0, "0100000000", 10},
        {"encrypted-r2.pdf", "", "", 0x12345678, 0x9ABCD, "785634cdab", 10},
        {"encrypted-r3.pdf", "", "", 7, 1, "0700000100", 16},
        // A /Length beyond 128 bits: the file key stays at 16 bytes, and so does this one.
        {"encrypted-r3.pdf", "/Length 128", "/Length 256", 7, 1, "0700000100", 16},
    };
    for (const Case &c : cases) {
        Encrypted e(c.file, c.from, c.to);
        ASSERT_EQ(e.load(), PDFResult::Ok) << c.file;
        const MD5::Digest digest = MD5::digest(fromHex(hexOf(e.enc._fileKey) + c.suffix));
        EXPECT_EQ(e.enc.objectKey(c.number, c.generation),
                  Bytes(digest.begin(), digest.begin() + static_cast<std::ptrdiff_t>(c.length)))
            << c.suffix;
    }
}

TEST(PDFEncryptionDictionary, DecryptStringsSkipsReferencesAndNumbers) {
    Encrypted e("encrypted-r2.pdf");
    ASSERT_EQ(e.load(), PDFResult::Ok);
    PDFDictionary d;
    d.set("Ref", {u"4 0 R", true});
    d.set("Number", {u"+1,2-3.4", false});
    d.set("Empty", {u"", false});
    d.set("Text", {u"12a", false});
    d.set("Wide", {u"\u4150b", false}); // only the low byte of a unit is deciphered
    PDFDictionary expected = d;
    expected.set("Text", {rc4Text(u"12a", e.enc.objectKey(9, 2))});
    expected.set("Wide", {rc4Text(u"\u4150b", e.enc.objectKey(9, 2))});
    ASSERT_EQ(e.enc.decryptStrings(d, 9, 2), PDFResult::Ok);
    EXPECT_EQ(d, expected);
}

} // namespace
