#include "security/PDFEncryptionDictionary.h"

#include <algorithm>
#include <array>
#include <vector>

#include "objects/PDFObject.h"
#include "security/CryptoProvider.h"
#include "security/RC4.h"
#include "syntax/IntegerText.h"
#include "syntax/MemorySource.h"
#include "syntax/PDFNames.h"
#include "syntax/TextEncoding.h"
#include "syntax/Tokenizer.h"

namespace vellumtag {

namespace {

using Hash = CryptoProvider::Hash;
using Method = PDFEncryptionDictionary::Method;

// The password padding string of ISO 32000-1, 7.6.3.3, Algorithm 2, step a: also the empty
// password, padded.
constexpr std::array<std::uint8_t, 32> kPadding = {
    0x28, 0xBF, 0x4E, 0x5E, 0x4E, 0x75, 0x8A, 0x41, 0x64, 0x00, 0x4E, 0x56, 0xFF, 0xFA, 0x01, 0x08,
    0x2E, 0x2E, 0x00, 0xB6, 0xD0, 0x68, 0x3E, 0x80, 0x2F, 0x0C, 0xA9, 0xFE, 0x64, 0x53, 0x69, 0x7A};

// RC4 and AES-128 keys of this handler are at most 128 bits.
constexpr std::size_t kMaxKeyBytes = 16;

// 7.6.2, Algorithm 1, step b: the bytes appended for AES-128 object keys.
constexpr std::array<std::uint8_t, 4> kSalt = {0x73, 0x41, 0x6C, 0x54};

// One byte from one or two characters, read as wcstol reads base 16 (leading blanks, a sign;
// a "0x" prefix cannot be followed by a digit here) and kept to its low 8 bits.
std::uint8_t hexByte(std::span<const std::uint8_t> chars) {
    std::size_t pos = 0;
    const IntegerText number = IntegerText::read(chars, pos, 16);
    return static_cast<std::uint8_t>(number.toUnsigned(UINT64_MAX));
}

std::span<const std::uint8_t> firstBytes(const Bytes &bytes, std::size_t count) {
    return std::span(bytes).first(std::min(count, bytes.size()));
}

// /P as the 32 bits it stands for, written signed (-4) or unsigned (4294967292).
std::int32_t permissionsOf(const PDFDictionary &dictionary) {
    const PDFValue *value = dictionary.find(names::kP);
    if (value == nullptr)
        return 0;
    std::size_t pos = 0;
    const IntegerText number = IntegerText::read(value->text, pos);
    const auto bits =
        static_cast<std::uint32_t>(number.negative() ? 0 - number.magnitude() : number.magnitude());
    return static_cast<std::int32_t>(bits);
}

// A key length given in bits, as /Length is (7.6.1, table 20: 40 to 128), or in bytes, as some
// writers give it (a value below 40); a longer one is cut to the 128 bits that RC4 keys of this
// handler have at most. Nothing when missing, zero or no number.
std::optional<std::uint32_t> keyBytes(const PDFDictionary &dictionary, std::string_view key) {
    const PDFValue *value = dictionary.find(key);
    if (value == nullptr || value->kind != PDFValue::Kind::Number)
        return std::nullopt;
    const std::optional<std::uint64_t> length = dictionary.getUInt64(key);
    if (!length || *length == 0)
        return std::nullopt;
    if (*length < 40)
        return static_cast<std::uint32_t>(std::min<std::uint64_t>(*length, kMaxKeyBytes));
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(*length / 8, kMaxKeyBytes));
}

} // namespace

PDFResult PDFEncryptionDictionary::load(MemoryParser &parser, std::uint64_t offset) {
    _ready = false;
    parser.seek(offset);
    std::uint32_t number = 0, generation = 0;
    static_cast<void>(Tokenizer(parser).readObjectHeader(number, generation));
    if (const PDFResult parsed = parse(parser); parsed != PDFResult::Ok)
        return parsed;
    return setUp();
}

PDFResult PDFEncryptionDictionary::load(const PDFDictionary &entries) {
    _ready = false;
    clear();
    merge(entries);
    return setUp();
}

PDFResult PDFEncryptionDictionary::setUp() {
    _ready = false;
    _fileKey.clear();
    _filter = getString(names::kFilter, u"");
    _v = getInt(names::kV, 0);
    _r = getInt(names::kR, 0);
    _permissions = permissionsOf(*this);
    // 7.6.1, table 20: /EncryptMetadata means something from /V 4 on; anything but "true"
    // reads as false.
    _encryptMetadata = _v < 4 || getString(names::kEncryptMetadata, names::kTrue) == names::kTrue;
    if (_filter != names::kStandard)
        return PDFResult::EncryptionUnsupported;

    if (_v == 1 || _v == 2) {
        _streams = _strings = Method::RC4;
    } else if (_v == 4 || _v == 5) {
        _streams = cryptFilter(getString(names::kStmF, names::kIdentity));
        _strings = cryptFilter(getString(names::kStrF, names::kIdentity));
    } else {
        return PDFResult::EncryptionUnsupported;
    }
    const bool revisionFits = _v == 5 ? (_r == 5 || _r == 6) : (_r >= 2 && _r <= 4);
    if (!revisionFits || _streams == Method::Unknown || _strings == Method::Unknown)
        return PDFResult::EncryptionUnsupported;

    // Neither strings nor streams encrypted (/Identity, or crypt filters of /CFM /None): only
    // embedded files are (/EFF), and their password may be anything. Nothing the metadata need
    // is encrypted, so the document reads without a password, as viewers open it. A key that
    // the empty password gives still serves a stream's own /Crypt filter. A dictionary that
    // names no filter at all is taken for a damaged one, not for one that encrypts nothing.
    const bool keyless =
        _streams == Method::None && _strings == Method::None &&
        (contains(names::kStmF) || contains(names::kStrF) || contains(names::kEFF));
    if (_v == 5) {
        _keyLength = 32;
        _ready = openAes256() || keyless;
    } else {
        // 7.6.3.4: the empty string as the user password, and then as the owner password,
        // which gives the user password, with each key length the dictionary may mean.
        for (const std::uint32_t length : keyLengths()) {
            _keyLength = length;
            Bytes key = fileKeyFor(kPadding);
            _ready = userKeyMatches(key);
            if (!_ready) {
                key = fileKeyFor(userPasswordFromOwner());
                _ready = userKeyMatches(key);
            }
            if (_ready) {
                _fileKey = std::move(key);
                break;
            }
        }
        _ready = _ready || keyless;
    }
    return _ready ? PDFResult::Ok : PDFResult::EncryptionUnsupported;
}

std::vector<std::uint32_t> PDFEncryptionDictionary::keyLengths() const {
    // 7.6.1, table 20: /V 1 is 40 bits, and so is /V 2 without /Length; revision 2 always uses
    // 5 bytes. /V 4 takes the length of the RC4 crypt filter in use, from the filter's own
    // /Length (table 25), else the dictionary's; AES-128 keys are 16 bytes.
    constexpr std::uint32_t k40Bits = 5, k128Bits = 16;
    std::optional<std::uint32_t> stated;
    bool rc4Filter = false;
    if (_v == 4) {
        for (const std::u16string &name :
             {getString(names::kStmF, u""), getString(names::kStrF, u"")}) {
            const std::string filter(name.begin(), name.end());
            if (cryptFilter(name) == Method::RC4) {
                rc4Filter = true;
                stated = keyBytes(*this, std::string(names::kCF) + '.' + filter + ".Length");
            }
        }
    }
    if (!stated && (_v != 4 || rc4Filter))
        stated = keyBytes(*this, names::kLength);
    // Writers get the length wrong in every way, and peers disagree on what then holds: each
    // other length they take is tried after the stated one, which the password check decides.
    std::vector<std::uint32_t> lengths;
    const auto add = [&lengths](std::uint32_t length) {
        if (std::find(lengths.begin(), lengths.end(), length) == lengths.end())
            lengths.push_back(length);
    };
    if (_v == 1 || _r == 2 || (_v == 2 && !stated))
        add(k40Bits);
    if (_v == 4 && !rc4Filter)
        add(k128Bits);
    if (stated)
        add(*stated);
    add(k40Bits);
    add(k128Bits);
    return lengths;
}

Method PDFEncryptionDictionary::cryptFilter(std::u16string_view name) const {
    if (name == names::kIdentity)
        return Method::None;
    const std::string prefix =
        std::string(names::kCF) + '.' + std::string(name.begin(), name.end());
    if (!contains(prefix))
        return Method::Unknown;
    const std::u16string method = getString(prefix + '.' + std::string(names::kCFM), u"");
    if (method == names::kCfmNone || method.empty())
        return Method::None;
    if (method == names::kCfmV2)
        return Method::RC4;
    if (method == names::kCfmAesV2)
        return Method::AES128;
    if (method == names::kCfmAesV3 && _v == 5)
        return Method::AES256;
    return Method::Unknown;
}

PDFResult PDFEncryptionDictionary::decryptStream(Bytes &bytes, std::uint32_t objectNumber,
                                                 std::uint32_t generation,
                                                 const PDFDictionary &stream) const {
    if (!_ready)
        return PDFResult::EncryptionUnsupported;
    Method method = _streams;
    // 7.6.1: with /EncryptMetadata false the XMP stream is stored as it is.
    if (!_encryptMetadata && stream.getString(names::kType, u"") == names::kMetadataType)
        method = Method::None;
    // 7.4.10: a stream's own crypt filter, named by its parameters, /Identity by default.
    const std::vector<std::u16string> filters =
        PDFObject::filterNames(stream.getString(names::kFilter, u""));
    if (!filters.empty() && filters.front() == names::kCrypt) {
        std::u16string name =
            stream.dictionaryValue(names::kDecodeParms).getString(names::kName, u"");
        method = cryptFilter(name.empty() ? std::u16string(names::kIdentity) : name);
    }
    // A document read without a password has no key for what it does encrypt.
    if (method != Method::None && _fileKey.empty())
        return PDFResult::EncryptionUnsupported;
    switch (method) {
    case Method::None:
        return PDFResult::Ok;
    case Method::RC4:
        RC4(objectKey(objectNumber, generation, method)).process(bytes);
        return PDFResult::Ok;
    case Method::AES128:
    case Method::AES256:
        return aesDecrypt(objectKey(objectNumber, generation, method), bytes) ? PDFResult::Ok
                                                                              : PDFResult::BadValue;
    case Method::Unknown:
        break;
    }
    return PDFResult::EncryptionUnsupported;
}

PDFResult PDFEncryptionDictionary::decryptStrings(PDFDictionary &dictionary,
                                                  std::uint32_t objectNumber,
                                                  std::uint32_t generation) const {
    if (!_ready)
        return PDFResult::EncryptionUnsupported;
    if (_strings == Method::None)
        return PDFResult::Ok;
    if (_fileKey.empty())
        return PDFResult::EncryptionUnsupported;
    const Bytes key = objectKey(objectNumber, generation, _strings);
    // Every string starts the keystream afresh; copying the scheduled state is cheaper than
    // running the key schedule again.
    const RC4 scheduled(_strings == Method::RC4 ? key : Bytes{});
    std::vector<std::string> failed;
    for (auto &[name, value] : dictionary) {
        // Only strings are encrypted (7.6.2); their bytes as stored are what decrypts, and
        // the text is decoded again from the plain bytes.
        if (!value.isString())
            continue;
        if (_strings == Method::RC4) {
            RC4 rc4 = scheduled;
            rc4.process(value.raw);
        } else if (!aesDecrypt(key, value.raw)) {
            failed.push_back(name);
            continue;
        }
        bytesToText(value.raw, value.text);
    }
    for (const std::string &name : failed)
        dictionary.erase(name);
    return PDFResult::Ok;
}

// ISO 32000-1, 7.6.2, Algorithm 1; ISO 32000-2, 7.6.3.3, Algorithm 1.A for AES-256.
Bytes PDFEncryptionDictionary::objectKey(std::uint32_t objectNumber, std::uint32_t generation,
                                         Method method) const {
    if (method == Method::AES256)
        return _fileKey;
    const std::array<std::uint8_t, 5> suffix = {
        static_cast<std::uint8_t>(objectNumber), static_cast<std::uint8_t>(objectNumber >> 8),
        static_cast<std::uint8_t>(objectNumber >> 16), static_cast<std::uint8_t>(generation),
        static_cast<std::uint8_t>(generation >> 8)};
    const std::span<const std::uint8_t> salt = method == Method::AES128
                                                   ? std::span<const std::uint8_t>(kSalt)
                                                   : std::span<const std::uint8_t>();
    Bytes key = CryptoProvider::digest(Hash::MD5, {_fileKey, suffix, salt});
    key.resize(std::min<std::size_t>({std::size_t{_keyLength} + 5, kMaxKeyBytes, key.size()}));
    return key;
}

Bytes PDFEncryptionDictionary::firstFileId() const {
    // Some writers give the identifiers as literal strings.
    if (!_fileIdWritten.empty()) {
        MemorySource source(_fileIdWritten);
        MemoryParser parser(source);
        Tokenizer tokens(parser);
        if (tokens.peek() == Tokenizer::Kind::LiteralString) {
            const std::string written = tokens.next().text;
            return unescapeLiteral(
                std::span(reinterpret_cast<const std::uint8_t *>(written.data()), written.size()));
        }
    }
    // The trailer keeps /ID as the source text of its array: the characters of the first
    // hexadecimal string lie between the first "<" and the ">" after it.
    Bytes chars;
    bool inside = false;
    for (const char16_t unit : _fileId) {
        if (unit == u'>')
            break;
        if (inside)
            chars.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        else if (unit == u'<')
            inside = true;
    }

    // Pairs of characters, a last odd one alone: <ABC> gives AB 0C.
    Bytes id;
    id.reserve((chars.size() + 1) / 2);
    for (std::size_t i = 0; i < chars.size(); i += 2)
        id.push_back(
            hexByte(std::span(chars).subspan(i, std::min<std::size_t>(2, chars.size() - i))));
    return id;
}

// ISO 32000-1, 7.6.3.3, Algorithm 2: the file key for a password padded to 32 bytes.
Bytes PDFEncryptionDictionary::fileKeyFor(std::span<const std::uint8_t> paddedPassword) const {
    const Bytes owner = getBytes(names::kO);
    const auto permissions = static_cast<std::uint32_t>(_permissions);
    const std::array<std::uint8_t, 4> p = {
        static_cast<std::uint8_t>(permissions), static_cast<std::uint8_t>(permissions >> 8),
        static_cast<std::uint8_t>(permissions >> 16), static_cast<std::uint8_t>(permissions >> 24)};
    // Step f: revision 4 documents whose metadata are not encrypted add four bytes 0xFF.
    static constexpr std::array<std::uint8_t, 4> kClearMetadata = {0xFF, 0xFF, 0xFF, 0xFF};
    const std::span<const std::uint8_t> metadata =
        _r >= 4 && !_encryptMetadata ? std::span<const std::uint8_t>(kClearMetadata)
                                     : std::span<const std::uint8_t>();
    Bytes digest =
        CryptoProvider::digest(Hash::MD5, {paddedPassword, owner, p, firstFileId(), metadata});
    const std::size_t n = std::min<std::size_t>({_keyLength, kMaxKeyBytes, digest.size()});
    if (_r >= 3) {
        for (int i = 0; i < 50; ++i)
            digest = CryptoProvider::digest(Hash::MD5, {firstBytes(digest, n)});
    }
    digest.resize(std::min(n, digest.size()));
    return digest;
}

// ISO 32000-1, 7.6.3.4, Algorithms 4 and 5 (revision 2; 3 and 4) with Algorithm 6: /U compared
// byte by byte, in full for revision 2, its first 16 bytes for the later ones.
bool PDFEncryptionDictionary::userKeyMatches(const Bytes &key) const {
    if (key.empty())
        return false;
    const Bytes u = getBytes(names::kU);
    if (_r == 2) {
        Bytes expected(kPadding.begin(), kPadding.end());
        RC4(key).process(expected);
        return u == expected;
    }
    Bytes x = CryptoProvider::digest(Hash::MD5, {kPadding, firstFileId()});
    RC4(key).process(x);
    Bytes round(key.size());
    for (std::uint8_t i = 1; i <= 19; ++i) {
        std::transform(key.begin(), key.end(), round.begin(),
                       [i](std::uint8_t byte) { return static_cast<std::uint8_t>(byte ^ i); });
        RC4(round).process(x);
    }
    return !x.empty() && u.size() >= x.size() && std::equal(x.begin(), x.end(), u.begin());
}

// ISO 32000-1, 7.6.3.4, Algorithm 7 with Algorithm 3, steps a to d: the user password, padded,
// that /O holds encrypted under the key of the empty owner password.
Bytes PDFEncryptionDictionary::userPasswordFromOwner() const {
    Bytes digest = CryptoProvider::digest(Hash::MD5, {kPadding});
    if (_r >= 3) {
        for (int i = 0; i < 50; ++i)
            digest = CryptoProvider::digest(Hash::MD5, {digest});
    }
    digest.resize(std::min<std::size_t>(
        {_r == 2 ? std::size_t{5} : std::size_t{_keyLength}, kMaxKeyBytes, digest.size()}));
    Bytes password = getBytes(names::kO);
    password.resize(kPadding.size());
    if (digest.empty())
        return password;
    if (_r == 2) {
        RC4(digest).process(password);
        return password;
    }
    Bytes round(digest.size());
    for (int i = 19; i >= 0; --i) {
        std::transform(digest.begin(), digest.end(), round.begin(),
                       [i](std::uint8_t byte) { return static_cast<std::uint8_t>(byte ^ i); });
        RC4(round).process(password);
    }
    return password;
}

// ISO 32000-2, 7.6.4.3.3, Algorithm 2.A with the empty password, as the user password (/U,
// /UE) and then as the owner password (/O, /OE). Where /Perms is present, Algorithm 13 proves
// the file key instead of the password's own hash: a wrong password gives a key under which
// /Perms does not read "adb", and each hash of revision 6 costs at least 64 rounds of AES and
// SHA-2 over kilobytes. A key that fails /Perms is proven by the hash instead.
bool PDFEncryptionDictionary::openAes256() {
    const Bytes u = getBytes(names::kU), o = getBytes(names::kO);
    if (u.size() < 48)
        return false;
    const bool withPerms = contains(names::kPerms);
    const Bytes perms = getBytes(names::kPerms);
    const std::array<std::uint8_t, CryptoProvider::kAesBlock> zeros{};
    const auto permsOpen = [&](const Bytes &key) {
        if (perms.size() < CryptoProvider::kAesBlock)
            return false;
        Bytes block(perms.begin(), perms.begin() + CryptoProvider::kAesBlock);
        return CryptoProvider::aesCbcDecrypt(key, zeros, block) && block[9] == 'a' &&
               block[10] == 'd' && block[11] == 'b';
    };
    const std::span<const std::uint8_t> password;
    const auto opens = [&](const Bytes &entry, const Bytes &encryptedKey,
                           std::span<const std::uint8_t> userKey) {
        if (entry.size() < 48 || encryptedKey.size() < 32)
            return false;
        const std::span<const std::uint8_t> hash(entry.data(), 32);
        const std::span<const std::uint8_t> validationSalt(entry.data() + 32, 8);
        const std::span<const std::uint8_t> keySalt(entry.data() + 40, 8);
        const Bytes intermediate = passwordHash(_r, password, keySalt, userKey);
        Bytes key(encryptedKey.begin(), encryptedKey.begin() + 32);
        if (!CryptoProvider::aesCbcDecrypt(intermediate, zeros, key))
            return false;
        // /Perms only guards the permission flags: where it does not prove the key, the
        // password's own hash still may.
        if (!withPerms || !permsOpen(key)) {
            const Bytes check = passwordHash(_r, password, validationSalt, userKey);
            if (check.size() != hash.size() || !std::equal(hash.begin(), hash.end(), check.begin()))
                return false;
        }
        _fileKey = std::move(key);
        return true;
    };
    return opens(u, getBytes(names::kUE), {}) ||
           opens(o, getBytes(names::kOE), std::span(u).first(48));
}

bool PDFEncryptionDictionary::aesDecrypt(std::span<const std::uint8_t> key, Bytes &data) {
    // An empty string may be stored as it is, or as its initialisation vector alone.
    if (data.empty() || data.size() == CryptoProvider::kAesBlock) {
        data.clear();
        return true;
    }
    if (data.size() % CryptoProvider::kAesBlock != 0)
        return false;
    const Bytes iv(data.begin(), data.begin() + CryptoProvider::kAesBlock);
    const std::span<std::uint8_t> body = std::span(data).subspan(CryptoProvider::kAesBlock);
    if (!CryptoProvider::aesCbcDecrypt(key, iv, body))
        return false;
    // PKCS #7 (RFC 8018, 6.1.1, step 4): 1 to 16 bytes, each the count of them.
    const std::uint8_t pad = body.back();
    if (pad == 0 || pad > CryptoProvider::kAesBlock ||
        !std::all_of(body.end() - pad, body.end(), [pad](std::uint8_t b) { return b == pad; }))
        return false;
    data.assign(body.begin(), body.end() - pad);
    return true;
}

Bytes PDFEncryptionDictionary::passwordHash(int revision, std::span<const std::uint8_t> password,
                                            std::span<const std::uint8_t> salt,
                                            std::span<const std::uint8_t> userKey) {
    Bytes k = CryptoProvider::digest(Hash::SHA256, {password, salt, userKey});
    if (revision < 6)
        return k;
    // At least 64 rounds, and then until the last byte of E is no more than the round
    // number less 32.
    Bytes e;
    for (int round = 0; round < 64 || static_cast<int>(e.back()) > round - 32; ++round) {
        if (k.size() < 32)
            return {};
        Bytes k1;
        k1.reserve(64 * (password.size() + k.size() + userKey.size()));
        for (int i = 0; i < 64; ++i) {
            k1.insert(k1.end(), password.begin(), password.end());
            k1.insert(k1.end(), k.begin(), k.end());
            k1.insert(k1.end(), userKey.begin(), userKey.end());
        }
        if (!CryptoProvider::aesCbcEncrypt(std::span(k).first(16), std::span(k).subspan(16, 16),
                                           k1))
            return {};
        e = std::move(k1);
        // The first 16 bytes of E as a number, modulo 3: as 256 is 1 modulo 3, the sum of
        // the bytes.
        unsigned sum = 0;
        for (std::size_t i = 0; i < 16; ++i)
            sum += e[i];
        const Hash next = sum % 3 == 0 ? Hash::SHA256 : sum % 3 == 1 ? Hash::SHA384 : Hash::SHA512;
        k = CryptoProvider::digest(next, {e});
    }
    k.resize(std::min<std::size_t>(k.size(), 32));
    return k;
}

} // namespace vellumtag
