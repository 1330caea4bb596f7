// The published vectors, which every backend of CryptoProvider must pass: nettle on Linux,
// CNG under Wine. The same source runs on both.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "security/CryptoProvider.h"
#include "security/RC4.h"

using namespace vellumtag;
using Hash = CryptoProvider::Hash;

namespace {

std::string hexOf(std::span<const std::uint8_t> bytes) {
    std::string out;
    for (const std::uint8_t b : bytes) {
        out += "0123456789abcdef"[b >> 4];
        out += "0123456789abcdef"[b & 15];
    }
    return out;
}

CryptoProvider::Bytes fromHex(std::string_view hex) {
    CryptoProvider::Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), 0, 16)));
    return out;
}

std::span<const std::uint8_t> bytesOf(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t *>(s.data()), s.size()};
}

const std::string kTwoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const std::string kFourBlocks = "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmno"
                                "ijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";

// RFC 1321, A.5; FIPS 180-4 by the examples of NIST's Cryptographic Standards and Guidelines
// (SHA256.pdf, SHA384.pdf, SHA512.pdf), and the empty message.
TEST(CryptoProvider, DigestVectors) {
    const std::tuple<Hash, std::string, const char *> cases[] = {
        {Hash::MD5, "", "d41d8cd98f00b204e9800998ecf8427e"},
        {Hash::MD5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
        {Hash::MD5, "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {Hash::MD5, "abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {Hash::MD5,
         "12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        {Hash::SHA256, "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {Hash::SHA256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {Hash::SHA256, kTwoBlocks,
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {Hash::SHA384, "abc",
         "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca1"
         "34c825a7"},
        {Hash::SHA384, kFourBlocks,
         "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa"
         "91746039"},
        {Hash::SHA512, "abc",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23"
         "a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
        {Hash::SHA512, kFourBlocks,
         "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99de"
         "c4b5433ac7d329eeb6dd26545e96e55b874be909"},
        {Hash::SHA256, std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto &[hash, message, digest] : cases) {
        const auto whole = CryptoProvider::digest(hash, {bytesOf(message)});
        EXPECT_EQ(hexOf(whole), digest) << message.size();
        EXPECT_EQ(whole.size(), CryptoProvider::digestSize(hash));
        // In parts, the way keys are derived: the same digest.
        const std::string_view text(message);
        const std::size_t third = text.size() / 3;
        EXPECT_EQ(hexOf(CryptoProvider::digest(
                      hash, {bytesOf(text.substr(0, third)), {}, bytesOf(text.substr(third))})),
                  digest)
            << message.size();
    }
}

// FIPS 197, appendix C.1 and C.3 (one block, which CBC with a zero vector leaves as it is),
// and NIST SP 800-38A, F.2.1 to F.2.6 (CBC over four blocks).
TEST(CryptoProvider, AesVectors) {
    const std::string sp800Plain =
        "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
        "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";
    const std::string sp800Iv = "000102030405060708090a0b0c0d0e0f";
    const std::tuple<const char *, std::string, std::string, std::string> cases[] = {
        {"000102030405060708090a0b0c0d0e0f", std::string(32, '0'),
         "00112233445566778899aabbccddeeff", "69c4e0d86a7b0430d8cdb78070b4c55a"},
        {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", std::string(32, '0'),
         "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
        {"2b7e151628aed2a6abf7158809cf4f3c", sp800Iv, sp800Plain,
         "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
         "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"},
        {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4", sp800Iv, sp800Plain,
         "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
         "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b"},
    };
    for (const auto &[key, iv, plain, cipher] : cases) {
        auto data = fromHex(plain);
        ASSERT_TRUE(CryptoProvider::aesCbcEncrypt(fromHex(key), fromHex(iv), data)) << key;
        EXPECT_EQ(hexOf(data), cipher) << key;
        ASSERT_TRUE(CryptoProvider::aesCbcDecrypt(fromHex(key), fromHex(iv), data)) << key;
        EXPECT_EQ(hexOf(data), plain) << key;
    }
}

TEST(CryptoProvider, AesRefusesWhatDoesNotFit) {
    const auto key = fromHex("000102030405060708090a0b0c0d0e0f");
    const auto iv = fromHex(std::string(32, '0'));
    CryptoProvider::Bytes data(16);
    EXPECT_FALSE(CryptoProvider::aesCbcDecrypt(std::span(key).first(15), iv, data));
    EXPECT_FALSE(CryptoProvider::aesCbcDecrypt(fromHex(std::string(48, '0')), iv, data))
        << "AES-192 is not used";
    EXPECT_FALSE(CryptoProvider::aesCbcDecrypt(key, std::span(iv).first(8), data));
    CryptoProvider::Bytes odd(17);
    EXPECT_FALSE(CryptoProvider::aesCbcDecrypt(key, iv, odd));
    CryptoProvider::Bytes none;
    EXPECT_TRUE(CryptoProvider::aesCbcDecrypt(key, iv, none)) << "no blocks, nothing to do";
}

TEST(RC4, PublishedVectors) {
    const std::tuple<CryptoProvider::Bytes, std::string, const char *> cases[] = {
        // RFC 6229, keystream at offsets 0 and 16.
        {fromHex("0102030405"), std::string(32, '\0'),
         "b2396305f03dc027ccc3524a0a1118a86982944f18fc82d589c403a47a0d0919"},
        {fromHex("0102030405060708090a0b0c0d0e0f10"), std::string(16, '\0'),
         "9ac7cc9a609d1ef7b2932899cde41b97"},
        {{'K', 'e', 'y'}, "Plaintext", "bbf316e8d940af0ad3"},
        {{'W', 'i', 'k', 'i'}, "pedia", "1021bf0420"},
        {{'S', 'e', 'c', 'r', 'e', 't'}, "Attack at dawn", "45a01f645fc35b383552544b9bf5"},
    };
    for (const auto &[key, plain, cipher] : cases) {
        CryptoProvider::Bytes whole(plain.begin(), plain.end());
        RC4(key).process(whole);
        EXPECT_EQ(hexOf(whole), cipher);
        CryptoProvider::Bytes pieces(plain.begin(), plain.end()); // one keystream across calls
        RC4 rc4(key);
        rc4.process(std::span(pieces).first(3));
        rc4.process(std::span(pieces).subspan(3));
        EXPECT_EQ(hexOf(pieces), cipher);
    }
    CryptoProvider::Bytes unkeyed = {'a', 'b', 'c'};
    RC4(CryptoProvider::Bytes{}).process(unkeyed);
    EXPECT_EQ(unkeyed, (CryptoProvider::Bytes{'a', 'b', 'c'})) << "no key, no keystream";
}

} // namespace
