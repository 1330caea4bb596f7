// The cryptography of CryptoProvider from Windows' own Cryptography API: Next Generation,
// in bcrypt.dll, a system DLL. The algorithm providers are opened once and kept for the
// life of the module: Microsoft's documentation of BCryptOpenAlgorithmProvider advises to
// cache them, as opening one is costly, and a handle may be used from any thread.
#include "security/CryptoProvider.h"

#include <array>
#include <windows.h>

#include <bcrypt.h>

namespace vellumtag {

namespace {

bool succeeded(NTSTATUS status) { return status >= 0; }

class Providers {
public:
    Providers() {
        open(_md5, BCRYPT_MD5_ALGORITHM);
        open(_sha256, BCRYPT_SHA256_ALGORITHM);
        open(_sha384, BCRYPT_SHA384_ALGORITHM);
        open(_sha512, BCRYPT_SHA512_ALGORITHM);
        if (open(_aes, BCRYPT_AES_ALGORITHM) &&
            !succeeded(BCryptSetProperty(
                _aes, BCRYPT_CHAINING_MODE,
                reinterpret_cast<PUCHAR>(const_cast<wchar_t *>(BCRYPT_CHAIN_MODE_CBC)),
                sizeof(BCRYPT_CHAIN_MODE_CBC), 0))) {
            BCryptCloseAlgorithmProvider(_aes, 0);
            _aes = nullptr;
        }
    }
    ~Providers() {
        for (BCRYPT_ALG_HANDLE handle : {_md5, _sha256, _sha384, _sha512, _aes}) {
            if (handle != nullptr)
                BCryptCloseAlgorithmProvider(handle, 0);
        }
    }
    Providers(const Providers &) = delete;
    Providers &operator=(const Providers &) = delete;

    BCRYPT_ALG_HANDLE hash(CryptoProvider::Hash hash) const {
        switch (hash) {
        case CryptoProvider::Hash::MD5:
            return _md5;
        case CryptoProvider::Hash::SHA256:
            return _sha256;
        case CryptoProvider::Hash::SHA384:
            return _sha384;
        case CryptoProvider::Hash::SHA512:
            return _sha512;
        }
        return nullptr;
    }
    BCRYPT_ALG_HANDLE aes() const { return _aes; }

private:
    static bool open(BCRYPT_ALG_HANDLE &handle, const wchar_t *algorithm) {
        if (!succeeded(BCryptOpenAlgorithmProvider(&handle, algorithm, nullptr, 0)))
            handle = nullptr;
        return handle != nullptr;
    }

    BCRYPT_ALG_HANDLE _md5 = nullptr;
    BCRYPT_ALG_HANDLE _sha256 = nullptr;
    BCRYPT_ALG_HANDLE _sha384 = nullptr;
    BCRYPT_ALG_HANDLE _sha512 = nullptr;
    BCRYPT_ALG_HANDLE _aes = nullptr;
};

const Providers &providers() {
    static const Providers instance;
    return instance;
}

// Destroys a hash or key object on every way out.
template <class Handle, NTSTATUS(WINAPI *Destroy)(Handle)> struct Owned {
    Handle handle = nullptr;
    ~Owned() {
        if (handle != nullptr)
            Destroy(handle);
    }
};

// Runs the cipher over the data in place, which CNG allows; encrypt chooses the direction.
bool aesCbc(std::span<const std::uint8_t> key, std::span<const std::uint8_t> iv,
            std::span<std::uint8_t> data, bool encrypt) {
    constexpr std::size_t block = CryptoProvider::kAesBlock;
    if ((key.size() != 16 && key.size() != 32) || iv.size() != block || data.size() % block != 0)
        return false;
    if (data.empty())
        return true;
    const BCRYPT_ALG_HANDLE aes = providers().aes();
    if (aes == nullptr)
        return false;
    Owned<BCRYPT_KEY_HANDLE, BCryptDestroyKey> handle;
    if (!succeeded(BCryptGenerateSymmetricKey(aes, &handle.handle, nullptr, 0,
                                              const_cast<PUCHAR>(key.data()),
                                              static_cast<ULONG>(key.size()), 0)))
        return false;
    std::array<std::uint8_t, CryptoProvider::kAesBlock> chain;
    std::copy(iv.begin(), iv.end(), chain.begin());
    ULONG written = 0;
    const auto length = static_cast<ULONG>(data.size());
    const NTSTATUS status =
        encrypt ? BCryptEncrypt(handle.handle, data.data(), length, nullptr, chain.data(),
                                static_cast<ULONG>(chain.size()), data.data(), length, &written, 0)
                : BCryptDecrypt(handle.handle, data.data(), length, nullptr, chain.data(),
                                static_cast<ULONG>(chain.size()), data.data(), length, &written, 0);
    return succeeded(status) && written == length;
}

} // namespace

std::size_t CryptoProvider::digestSize(Hash hash) {
    switch (hash) {
    case Hash::MD5:
        return 16;
    case Hash::SHA256:
        return 32;
    case Hash::SHA384:
        return 48;
    case Hash::SHA512:
        return 64;
    }
    return 0;
}

CryptoProvider::Bytes CryptoProvider::digest(Hash hash, Parts parts) {
    const BCRYPT_ALG_HANDLE algorithm = providers().hash(hash);
    if (algorithm == nullptr)
        return {};
    Owned<BCRYPT_HASH_HANDLE, BCryptDestroyHash> handle;
    if (!succeeded(BCryptCreateHash(algorithm, &handle.handle, nullptr, 0, nullptr, 0, 0)))
        return {};
    for (const auto part : parts) {
        if (!succeeded(BCryptHashData(handle.handle, const_cast<PUCHAR>(part.data()),
                                      static_cast<ULONG>(part.size()), 0)))
            return {};
    }
    Bytes out(digestSize(hash));
    if (!succeeded(BCryptFinishHash(handle.handle, out.data(), static_cast<ULONG>(out.size()), 0)))
        return {};
    return out;
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
