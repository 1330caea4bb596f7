// The cryptography of CryptoProvider from Debian's nettle (libnettle8), for every platform but
// Windows. nettle was chosen over OpenSSL's libcrypto because it offers exactly these
// primitives as plain functions over caller-owned contexts: no providers to load, no global
// state, nothing to initialise, and a small library.
#include "security/CryptoProvider.h"

#include <array>
#include <nettle/aes.h>
#include <nettle/cbc.h>
#include <nettle/md5.h>
#include <nettle/sha2.h>

namespace vellumtag {

namespace {

// nettle's CBC functions take the block cipher as a function over an untyped context.
void decrypt128(const void *context, std::size_t length, std::uint8_t *dst,
                const std::uint8_t *src) {
    aes128_decrypt(static_cast<const aes128_ctx *>(context), length, dst, src);
}
void decrypt256(const void *context, std::size_t length, std::uint8_t *dst,
                const std::uint8_t *src) {
    aes256_decrypt(static_cast<const aes256_ctx *>(context), length, dst, src);
}

// Runs the cipher over the data in place, which nettle allows; encrypt chooses the direction.
// Encryption uses nettle 3.8's own CBC of AES, which chains in AES instructions where there are.
bool aesCbc(std::span<const std::uint8_t> key, std::span<const std::uint8_t> iv,
            std::span<std::uint8_t> data, bool encrypt) {
    constexpr std::size_t block = CryptoProvider::kAesBlock;
    if ((key.size() != 16 && key.size() != 32) || iv.size() != block || data.size() % block != 0)
        return false;
    std::array<std::uint8_t, block> chain;
    std::copy(iv.begin(), iv.end(), chain.begin());
    std::uint8_t *const bytes = data.data();
    if (key.size() == 16) {
        aes128_ctx context;
        if (encrypt) {
            aes128_set_encrypt_key(&context, key.data());
            cbc_aes128_encrypt(&context, chain.data(), data.size(), bytes, bytes);
        } else {
            aes128_set_decrypt_key(&context, key.data());
            cbc_decrypt(&context, decrypt128, block, chain.data(), data.size(), bytes, bytes);
        }
    } else {
        aes256_ctx context;
        if (encrypt) {
            aes256_set_encrypt_key(&context, key.data());
            cbc_aes256_encrypt(&context, chain.data(), data.size(), bytes, bytes);
        } else {
            aes256_set_decrypt_key(&context, key.data());
            cbc_decrypt(&context, decrypt256, block, chain.data(), data.size(), bytes, bytes);
        }
    }
    return true;
}

template <class Context, class Init, class Update, class Digest>
CryptoProvider::Bytes hashWith(CryptoProvider::Parts parts, std::size_t size, Init init,
                               Update update, Digest digest) {
    Context context;
    init(&context);
    for (const auto part : parts)
        update(&context, part.size(), part.data());
    CryptoProvider::Bytes out(size);
    digest(&context, out.size(), out.data());
    return out;
}

} // namespace

std::size_t CryptoProvider::digestSize(Hash hash) {
    switch (hash) {
    case Hash::MD5:
        return MD5_DIGEST_SIZE;
    case Hash::SHA256:
        return SHA256_DIGEST_SIZE;
    case Hash::SHA384:
        return SHA384_DIGEST_SIZE;
    case Hash::SHA512:
        return SHA512_DIGEST_SIZE;
    }
    return 0;
}

CryptoProvider::Bytes CryptoProvider::digest(Hash hash, Parts parts) {
    switch (hash) {
    case Hash::MD5:
        return hashWith<md5_ctx>(parts, MD5_DIGEST_SIZE, md5_init, md5_update, md5_digest);
    case Hash::SHA256:
        return hashWith<sha256_ctx>(parts, SHA256_DIGEST_SIZE, sha256_init, sha256_update,
                                    sha256_digest);
    case Hash::SHA384:
        return hashWith<sha384_ctx>(parts, SHA384_DIGEST_SIZE, sha384_init, sha384_update,
                                    sha384_digest);
    case Hash::SHA512:
        return hashWith<sha512_ctx>(parts, SHA512_DIGEST_SIZE, sha512_init, sha512_update,
                                    sha512_digest);
    }
    return {};
}

bool CryptoProvider::aesCbcDecrypt(std::span<const std::uint8_t> key,
                                   std::span<const std::uint8_t> iv, std::span<std::uint8_t> data) {
    return aesCbc(key, iv, data, false);
}

bool CryptoProvider::aesCbcEncrypt(std::span<const std::uint8_t> key,
                                   std::span<const std::uint8_t> iv, std::span<std::uint8_t> data) {
    return aesCbc(key, iv, data, true);
}

} // namespace vellumtag
