#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

namespace vellumtag {

// The cryptography of the Standard security handler, taken from a well-kept library of the
// platform, chosen at build time: nettle on Linux (CryptoProviderNettle.cpp), CNG's bcrypt.dll
// on Windows (CryptoProviderCng.cpp). Stateless; every function may be called from any thread.
// RC4 is not here: Wine's bcrypt does not implement it, so the Windows backend could not be
// tested, and the reader keeps its own (RC4.h).
class CryptoProvider {
public:
    enum class Hash { MD5, SHA256, SHA384, SHA512 };
    using Bytes = std::vector<std::uint8_t>;
    using Parts = std::initializer_list<std::span<const std::uint8_t>>;

    static std::size_t digestSize(Hash hash);
    // The digest (RFC 1321, FIPS 180-4) of the parts taken one after the other; empty when the
    // library fails.
    static Bytes digest(Hash hash, Parts parts);

    // AES in CBC mode (FIPS 197, NIST SP 800-38A) over whole 16-byte blocks, in place, without
    // padding, with a key of 16 or 32 bytes and an iv of 16. False when they do not fit or
    // the library fails; the data are then unspecified.
    static bool aesCbcDecrypt(std::span<const std::uint8_t> key, std::span<const std::uint8_t> iv,
                              std::span<std::uint8_t> data);
    static bool aesCbcEncrypt(std::span<const std::uint8_t> key, std::span<const std::uint8_t> iv,
                              std::span<std::uint8_t> data);

    static constexpr std::size_t kAesBlock = 16;
};

} // namespace vellumtag
