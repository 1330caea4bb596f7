#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "PDFDocument.h"
#include "TestSupport.h"
#include "security/CryptoProvider.h"
#include "security/PDFEncryptionDictionary.h"
#include "security/RC4.h"

using namespace vellumtag;
using vellumtag::test::ParserOver;
using vellumtag::test::PdfBuilder;
using vellumtag::test::PdfEncryption;
using Method = PDFEncryptionDictionary::Method;

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

PDFDictionary helloInfo() {
    ParserOver hello(readFile("samples/hello.pdf"));
    PDFDictionary d;
    d.parse(hello.parser, objectOffset(hello.data, 4));
    return d;
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
        {"encrypted-v4-rc4.pdf", "", "", ok, true},
        {"encrypted-aes128.pdf", "", "", ok, true},
        {"encrypted-aes256.pdf", "", "", ok, true},
        {"encrypted-r5.pdf", "", "", ok, true},
        // /EncryptMetadata false leaves the XMP stream clear, but strings stay encrypted.
        {"encrypted-cleartext-metadata.pdf", "", "", ok, true},
        // The empty string as the owner password.
        {"encrypted-r6-owner-password-empty.pdf", "", "", ok, true},
        {"encrypted-r2-user-password.pdf", "", "", no, false},
        {"encrypted-r3-user-password.pdf", "", "", no, false},
        {"encrypted-aes128-user-password.pdf", "", "", no, false},
        {"encrypted-r6-user-password.pdf", "", "", no, false},
        // /V and /R are each checked against their own range only.
        {"encrypted-r2.pdf", "/V 1", "/V 2", ok, true},
        {"encrypted-r3.pdf", "/V 2", "/V 1", ok, true}, // /V 1 is 40 bits, else /Length holds
        {"encrypted-r3.pdf", "/R 3", "/R 5", no, false},
        {"encrypted-aes256.pdf", "/R 6", "/R 4", no, false},
        {"encrypted-aes256.pdf", "/R 6", "/R 5", no, false}, // another hash
        // Keys: 5 bytes without /Length, at most 16 bytes, and lengths stated wrong: in bytes,
        // missing, zero or beyond 128 bits, as other readers take them.
        {"encrypted-r2.pdf", "/Length 40 ", "", ok, true},
        {"encrypted-r3.pdf", "/Length 128", "/Length 256", ok, true},
        {"encrypted-r3.pdf", "/Length 128", "/Length  16", ok, true},
        {"encrypted-r3.pdf", "/Length 128", "/Length   0", ok, true},
        {"encrypted-r3.pdf", "/Length 128", "/LengtX 128", ok, true},
        {"encrypted-r3.pdf", "/Length 128", "/Length  15", ok, true},
        {"encrypted-v4-rc4.pdf", "/Length 16", "/Length 99", ok, true},
        // /P as the bits it stands for, written signed or unsigned.
        {"encrypted-r3.pdf", "/P -4", "/P 4294967292", ok, true},
        {"encrypted-aes128.pdf", "/P -4", "/P 4294967292", ok, true},
        {"encrypted-r3.pdf", "/P -4", "/P -5", no, false},
        {"encrypted-r3.pdf", "/ID", "/NoID", no, false},
        // Crypt filters that are not implemented, and /Perms that the key does not open.
        {"encrypted-aes128.pdf", "/AESV2", "/AESV9", no, false},
        {"encrypted-aes128.pdf", "/StmF /StdCF", "/StmF /NoCF", no, false},
        // /Perms only guards the flags: the password's hash still proves the key.
        {"encrypted-aes256.pdf", "/Perms <", "/Perms <00", ok, true},
        {"encrypted-r5.pdf", "/Perms <", "/Perms <00", ok, true},
        {"encrypted-aes256.pdf", "/Perms", "/Perm_", ok, true}, // no /Perms: nothing to check
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
    EXPECT_EQ(e.enc.decryptStream(data, 2, 0, {}), PDFResult::Ok);
    EXPECT_EQ(data, streamOf(plain, 6));
}

// ISO 32000-1, 7.6.3.4, Algorithm 6: /U compared unit by byte, in full for revision 2, its
// first 16 bytes for revision 3.
TEST(PDFEncryptionDictionary, UserEntryComparison) {
    for (const char *file : {"encrypted-r2.pdf", "encrypted-r3.pdf"}) {
        Encrypted e(file);
        ASSERT_EQ(e.load(), PDFResult::Ok);
        const PDFDictionary entries = e.enc;
        const bool r3 = e.enc._r == 3;
        const Bytes raw = entries.getBytes("U");
        const auto opens = [&](Bytes bytes) {
            PDFDictionary changed = entries;
            changed.set("U", {u"", false, std::move(bytes), PDFValue::Kind::String});
            PDFEncryptionDictionary handler(e.trailer.getString("ID", u""));
            return handler.load(changed) == PDFResult::Ok;
        };
        EXPECT_TRUE(opens(raw)) << file;
        EXPECT_EQ(opens(Bytes(raw.begin(), raw.begin() + 16)), r3) << file;
        Bytes longer = raw;
        longer.push_back('x');
        EXPECT_EQ(opens(longer), r3) << file;
        Bytes flipped = raw;
        flipped[15] ^= 1;
        EXPECT_FALSE(opens(flipped)) << file;
    }
}

TEST(PDFEncryptionDictionary, HandWrittenDictionaries) {
    // An empty RC4 key would leave the padding as it is, matching this /U.
    const std::string padding = "28bf4e5e4e758a4164004e56fffa01082e2e00b6d0683e802f0ca9fe6453697a";
    const std::pair<std::string, PDFResult> cases[] = {
        {"<< /Filter /Standard /V 5 /R 6 /Length 256 >>", PDFResult::EncryptionUnsupported},
        {"<< /Filter /Standard /V 3 /R 3 >>", PDFResult::EncryptionUnsupported},
        {"<< /Filter /Standard /V 1 /R 1 >>", PDFResult::EncryptionUnsupported},
        {"<< /Filter /StandardX /V 1 /R 2 >>", PDFResult::EncryptionUnsupported},
        {"<< /Filter /Adobe.PubSec /V 4 /R 4 /SubFilter /adbe.pkcs7.s5 >>",
         PDFResult::EncryptionUnsupported},
        {"<< /V 1 /R 2 /EncryptMetadata true >>", PDFResult::EncryptionUnsupported},
        {"<< /Filter /Standard /V 1 /R 2 /Length 7 /U <" + padding + "> >>",
         PDFResult::EncryptionUnsupported},
        {"<< /EncryptMetadata false /Filter /Other /V 4 >>", PDFResult::EncryptionUnsupported},
        {"<< /EncryptMetadata 0 >>", PDFResult::EncryptionUnsupported},
        {"no dictionary", PDFResult::Unspecified},
    };
    for (const auto &[dictionary, result] : cases) {
        ParserOver over(dictionary);
        PDFEncryptionDictionary enc;
        EXPECT_EQ(enc.load(over.parser, 0), result) << dictionary;
        EXPECT_FALSE(enc._ready) << dictionary;
        EXPECT_TRUE(enc._fileKey.empty()) << dictionary;
        PDFDictionary d;
        d.set("Title", {u"x", false});
        EXPECT_EQ(enc.decryptStrings(d, 1, 0), PDFResult::EncryptionUnsupported);
        EXPECT_EQ(d.getString("Title", u""), u"x");
        Bytes data = bytesOf("x");
        EXPECT_EQ(enc.decryptStream(data, 1, 0, {}), PDFResult::EncryptionUnsupported);
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
        Bytes digest = CryptoProvider::digest(CryptoProvider::Hash::MD5,
                                              {fromHex(hexOf(e.enc._fileKey) + c.suffix)});
        digest.resize(c.length);
        EXPECT_EQ(e.enc.objectKey(c.number, c.generation, Method::RC4), digest) << c.suffix;
    }
    // AES-128 keys add "sAlT" (7.6.2, Algorithm 1, step b); AES-256 ones are the file key.
    Encrypted aes128("encrypted-aes128.pdf");
    ASSERT_EQ(aes128.load(), PDFResult::Ok);
    EXPECT_EQ(hexOf(aes128.enc.objectKey(1, 0, Method::AES128)),
              hexOf(CryptoProvider::digest(CryptoProvider::Hash::MD5,
                                           {aes128.enc._fileKey, fromHex("010000000073416c54")})));
    Encrypted aes256("encrypted-aes256.pdf");
    ASSERT_EQ(aes256.load(), PDFResult::Ok);
    EXPECT_EQ(aes256.enc._fileKey.size(), 32u);
    EXPECT_EQ(aes256.enc.objectKey(9, 3, Method::AES256), aes256.enc._fileKey);
}

// Only strings are encrypted (ISO 32000-1, 7.6.2): references, numbers and names stay as they
// are, and a string is decrypted from its bytes and decoded afresh.
TEST(PDFEncryptionDictionary, DecryptStringsTakesStringsOnly) {
    Encrypted e("encrypted-r2.pdf");
    ASSERT_EQ(e.load(), PDFResult::Ok);
    const Bytes key = e.enc.objectKey(9, 2, Method::RC4);
    const auto encrypted = [&](std::string plain) {
        Bytes bytes(plain.begin(), plain.end());
        RC4(key).process(bytes);
        return bytes;
    };
    PDFDictionary d;
    d.set("Ref", {u"4 0 R", true});
    d.set("Number", {u"+1,2-3.4", false});
    d.set("Name", {u"Catalog", false});
    d.set("Empty", {u"", false, {}, PDFValue::Kind::String});
    d.set("Array", {u"(x)", false, {'(', 'x', ')'}, PDFValue::Kind::Array});
    constexpr auto string = PDFValue::Kind::String;
    d.set("Text", {u"(whatever it decoded to)", false, encrypted("12a"), string});
    d.set("Mark", {u"", false, encrypted("\x92 \xFE\xFF"), string});
    d.set("Wide", {u"", false, encrypted("\xFE\xFF\x01\x41"), string});
    PDFDictionary expected = d;
    expected.set("Text", {u"12a"});
    expected.set("Mark", {u"\u2122 \u00FE\u00FF"});
    expected.set("Wide", {u"\u0141"});
    ASSERT_EQ(e.enc.decryptStrings(d, 9, 2), PDFResult::Ok);
    EXPECT_EQ(d, expected);
    EXPECT_EQ(d.getBytes("Text"), Bytes({'1', '2', 'a'})) << "the plain bytes are kept";
}

// AES-CBC with the vector in front and PKCS #7 padding (ISO 32000-1, 7.6.2): a value that is
// not whole blocks, or whose padding is wrong, does not decrypt.
TEST(PDFEncryptionDictionary, AesValues) {
    const Bytes key = fromHex("000102030405060708090a0b0c0d0e0f");
    const Bytes iv = fromHex("f0e0d0c0b0a090807060504030201000");
    const auto sealed = [&](std::string plain, std::string padding) {
        Bytes data(plain.begin(), plain.end());
        data.insert(data.end(), padding.begin(), padding.end());
        EXPECT_TRUE(CryptoProvider::aesCbcEncrypt(key, iv, data));
        data.insert(data.begin(), iv.begin(), iv.end());
        return data;
    };
    struct Case {
        const char *what;
        Bytes data;
        bool opens;
        std::string plain;
    };
    const Case cases[] = {
        {"one byte of padding", sealed("fifteen bytes..", "\x01"), true, "fifteen bytes.."},
        {"a whole block of padding", sealed("sixteen bytes...", std::string(16, '\x10')), true,
         "sixteen bytes..."},
        {"an empty string", sealed("", std::string(16, '\x10')), true, ""},
        {"the vector alone", iv, true, ""},
        {"nothing", {}, true, ""},
        {"padding of zero", sealed("fifteen bytes..", std::string(1, '\0')), false, ""},
        {"padding beyond a block", sealed("fifteen bytes..", "\x11"), false, ""},
        {"padding bytes that differ", sealed("fourteen bytes", "\x03\x02"), false, ""},
        {"not whole blocks", Bytes(40, 7), false, ""},
    };
    for (const auto &c : cases) {
        Bytes data = c.data;
        EXPECT_EQ(PDFEncryptionDictionary::aesDecrypt(key, data), c.opens) << c.what;
        if (c.opens) {
            EXPECT_EQ(std::string(data.begin(), data.end()), c.plain) << c.what;
        }
    }
}

// A document encrypted every way the handler reads gives the values of its plain copy: the
// information dictionary's strings (decrypted also where /EncryptMetadata is false), its XMP
// (left clear then) and the page count. A user password that is not empty gives 106, but the
// empty owner password opens the document.
TEST(PDFEncryptionDictionary, EveryCipherReadsAsThePlainDocument) {
    const std::string xmp =
        "<x:xmpmeta><rdf:RDF><rdf:Description><dc:title>XMP title</dc:title>"
        "<pdf:Producer>XMP producer</pdf:Producer></rdf:Description></rdf:RDF></x:xmpmeta>";
    const auto document = [&](std::optional<PdfEncryption> encryption, bool objectStreams) {
        PdfBuilder pdf(objectStreams ? "1.5" : "1.7");
        if (encryption)
            pdf.encrypt(*encryption);
        const std::vector<std::pair<std::uint32_t, std::string>> objects = {
            {1, "<< /Type /Catalog /Pages 2 0 R /Metadata 5 0 R >>"},
            {2, "<< /Type /Pages /Kids [] /Count 3 >>"},
            {4, "<< /Title (Ciphered title) /Author <FEFF00C9006C00E9006F006E006F00720065> "
                "/CreationDate (D:20240105120000+01'00') /Subject 6 0 R >>"},
            {6, "(Referenced subject)"},
        };
        if (objectStreams)
            pdf.objectStream(10, objects);
        else
            for (const auto &[number, body] : objects)
                pdf.object(number, body);
        pdf.stream(5, {.entries = "/Type /Metadata /Subtype /XML", .data = xmp, .deflate = true});
        const std::string trailer = "/Root 1 0 R /Info 4 0 R";
        return objectStreams ? pdf.xrefStream(11, trailer).str() : pdf.build(trailer);
    };
    const auto values = [](const std::string &bytes) {
        PDFDocument doc;
        const PDFResult result =
            doc.load(std::span(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size()));
        return std::pair(result, doc.values());
    };
    using Cipher = PdfEncryption::Cipher;
    struct Case {
        const char *what;
        PdfEncryption encryption;
        PDFResult result;
    };
    const Case cases[] = {
        {"RC4 revision 2", {.objectNumber = 20, .revision = 2}, PDFResult::Ok},
        {"RC4 revision 3, 128 bits", {.objectNumber = 20, .revision = 3}, PDFResult::Ok},
        {"RC4 revision 3, 56 bits",
         {.objectNumber = 20, .revision = 3, .keyBits = 56},
         PDFResult::Ok},
        {"RC4 crypt filter", {.objectNumber = 20, .revision = 4}, PDFResult::Ok},
        {"RC4 crypt filter, clear metadata",
         {.objectNumber = 20, .revision = 4, .encryptMetadata = false},
         PDFResult::Ok},
        {"AES-128", {.objectNumber = 20, .cipher = Cipher::AES128, .revision = 4}, PDFResult::Ok},
        {"AES-128, clear metadata",
         {.objectNumber = 20, .cipher = Cipher::AES128, .revision = 4, .encryptMetadata = false},
         PDFResult::Ok},
        {"AES-256 revision 6",
         {.objectNumber = 20, .cipher = Cipher::AES256, .revision = 6},
         PDFResult::Ok},
        {"AES-256 revision 5",
         {.objectNumber = 20, .cipher = Cipher::AES256, .revision = 5},
         PDFResult::Ok},
        {"AES-256, clear metadata",
         {.objectNumber = 20, .cipher = Cipher::AES256, .revision = 6, .encryptMetadata = false},
         PDFResult::Ok},
        {"owner password empty, revision 3",
         {.objectNumber = 20, .revision = 3, .userPassword = "user", .ownerPassword = ""},
         PDFResult::Ok},
        {"owner password empty, revision 2",
         {.objectNumber = 20, .revision = 2, .userPassword = "user", .ownerPassword = ""},
         PDFResult::Ok},
        {"owner password empty, AES-256",
         {.objectNumber = 20,
          .cipher = Cipher::AES256,
          .revision = 6,
          .userPassword = "user",
          .ownerPassword = ""},
         PDFResult::Ok},
        // Dictionaries written in ways that peers read too.
        {"a crypt filter of another name",
         {.objectNumber = 20, .cipher = Cipher::AES128, .revision = 4, .filterName = "F#20x"},
         PDFResult::Ok},
        {"crypt filters by reference, AES-128",
         {.objectNumber = 20, .cipher = Cipher::AES128, .revision = 4, .filtersObject = 21},
         PDFResult::Ok},
        {"crypt filters by reference, AES-256",
         {.objectNumber = 20, .cipher = Cipher::AES256, .revision = 6, .filtersObject = 21},
         PDFResult::Ok},
        {"strings left clear",
         {.objectNumber = 20, .cipher = Cipher::AES128, .revision = 4, .clearStrings = true},
         PDFResult::Ok},
        {"only embedded files encrypted, with a user password",
         {.objectNumber = 20,
          .cipher = Cipher::AES256,
          .revision = 6,
          .userPassword = "user",
          .embeddedFilesOnly = true},
         PDFResult::Ok},
        {"revision 5, /UE empty, owner password empty",
         {.objectNumber = 20,
          .cipher = Cipher::AES256,
          .revision = 5,
          .ownerPassword = "",
          .emptyUserKey = true},
         PDFResult::Ok},
        {"revision 5, /UE empty, owner password set",
         {.objectNumber = 20, .cipher = Cipher::AES256, .revision = 5, .emptyUserKey = true},
         PDFResult::EncryptionUnsupported},
        {"/ID as literal strings",
         {.objectNumber = 20, .revision = 3, .literalId = true},
         PDFResult::Ok},
        {"a user password, revision 2",
         {.objectNumber = 20, .revision = 2, .userPassword = "user"},
         PDFResult::EncryptionUnsupported},
        {"a user password, revision 3",
         {.objectNumber = 20, .revision = 3, .userPassword = "user"},
         PDFResult::EncryptionUnsupported},
        {"a user password, AES-128",
         {.objectNumber = 20, .cipher = Cipher::AES128, .revision = 4, .userPassword = "user"},
         PDFResult::EncryptionUnsupported},
        {"a user password, AES-256 revision 5",
         {.objectNumber = 20, .cipher = Cipher::AES256, .revision = 5, .userPassword = "user"},
         PDFResult::EncryptionUnsupported},
        {"a user password, AES-256 revision 6",
         {.objectNumber = 20, .cipher = Cipher::AES256, .revision = 6, .userPassword = "user"},
         PDFResult::EncryptionUnsupported},
    };
    for (const bool objectStreams : {false, true}) {
        const auto plain = values(document(std::nullopt, objectStreams));
        ASSERT_EQ(plain.first, PDFResult::Ok);
        ASSERT_EQ(plain.second.getString("Title", u""), u"Ciphered title");
        ASSERT_EQ(plain.second.getString("Producer", u""), u"XMP producer");
        ASSERT_EQ(plain.second.getString("Subject", u""), u"Referenced subject");
        for (const auto &c : cases) {
            const auto read = values(document(c.encryption, objectStreams));
            EXPECT_EQ(read.first, c.result) << c.what << (objectStreams ? ", object streams" : "");
            if (c.result == PDFResult::Ok) {
                EXPECT_EQ(read.second, plain.second)
                    << c.what << (objectStreams ? ", object streams" : "");
            }
        }
    }
}

// An /Encrypt dictionary written in place in the trailer, rather than as an object, is read
// as it stands.
TEST(PDFEncryptionDictionary, AnEncryptDictionaryInTheTrailer) {
    PdfBuilder pdf;
    pdf.encrypt({.objectNumber = 20, .cipher = PdfEncryption::Cipher::AES128, .revision = 4});
    pdf.object(1, "<< /Type /Catalog >>").object(4, "<< /Title (In place) >>");
    std::string bytes = pdf.build("/Root 1 0 R /Info 4 0 R");
    const std::size_t start = bytes.find("20 0 obj\n") + 9;
    const std::string dictionary = bytes.substr(start, bytes.find("\nendobj", start) - start);
    // After the table: no offset moves.
    const std::size_t reference = bytes.rfind("/Encrypt 20 0 R");
    ASSERT_GT(reference, bytes.rfind("\nxref\n"));
    bytes.replace(reference, 15, "/Encrypt " + dictionary);
    PDFDocument document;
    ASSERT_EQ(document.load(
                  std::span(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size())),
              PDFResult::Ok);
    EXPECT_EQ(document.values().getString("Title", u""), u"In place");
}

// A stream of its own /Crypt filter /Identity (ISO 32000-1, 7.4.10) is not decrypted; a
// crypt filter that the document does not define fails the stream.
TEST(PDFEncryptionDictionary, AStreamsOwnCryptFilter) {
    Encrypted e("encrypted-aes128.pdf");
    ASSERT_EQ(e.load(), PDFResult::Ok);
    const auto stream = [](const char *entries) {
        ParserOver over(std::string("<< ") + entries + " >>");
        PDFDictionary d;
        d.parse(over.parser);
        return d;
    };
    Bytes clear = bytesOf("clear text");
    EXPECT_EQ(e.enc.decryptStream(clear, 5, 0, stream("/Filter /Crypt")), PDFResult::Ok);
    EXPECT_EQ(e.enc.decryptStream(clear, 5, 0,
                                  stream("/Filter [/Crypt /FlateDecode] /DecodeParms "
                                         "[<< /Type /CryptFilterDecodeParms /Name /Identity >>]")),
              PDFResult::Ok);
    EXPECT_EQ(clear, bytesOf("clear text"));
    EXPECT_EQ(
        e.enc.decryptStream(clear, 5, 0, stream("/Filter /Crypt /DecodeParms << /Name (Other) >>")),
        PDFResult::EncryptionUnsupported);
    // Without a crypt filter of its own the document's /StmF applies: these bytes are no AES.
    EXPECT_EQ(e.enc.decryptStream(clear, 5, 0, stream("/Length 10")), PDFResult::BadValue);
}

} // namespace
