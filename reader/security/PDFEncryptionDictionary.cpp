#include "security/PDFEncryptionDictionary.h"

#include <algorithm>
#include <array>

#include "security/MD5.h"
#include "security/RC4.h"
#include "syntax/IntegerText.h"
#include "syntax/PDFNames.h"
#include "syntax/TextEncoding.h"

namespace vellumtag {

namespace {

// The password padding string of ISO 32000-1, 7.6.3.3, Algorithm 2, step a.
constexpr std::array<std::uint8_t, 32> kPadding = {
    0x28, 0xBF, 0x4E, 0x5E, 0x4E, 0x75, 0x8A, 0x41, 0x64, 0x00, 0x4E, 0x56, 0xFF, 0xFA, 0x01, 0x08,
    0x2E, 0x2E, 0x00, 0xB6, 0xD0, 0x68, 0x3E, 0x80, 0x2F, 0x0C, 0xA9, 0xFE, 0x64, 0x53, 0x69, 0x7A};

// RC4 keys of this handler are at most 128 bits.
constexpr std::size_t kMaxKeyBytes = 16;

// One byte from one or two characters, read as wcstol reads base 16 (leading blanks, a sign;
// a "0x" prefix cannot be followed by a digit here) and kept to its low 8 bits.
std::uint8_t hexByte(std::span<const std::uint8_t> chars) {
    std::size_t pos = 0;
    const IntegerText number = IntegerText::read(chars, pos, 16);
    return static_cast<std::uint8_t>(number.toUnsigned(UINT64_MAX));
}

// Values taken for numbers, and the empty text, are left as stored; an encrypted string rarely
// looks like one.
bool isNumberText(const std::u16string &text) {
    return std::all_of(text.begin(), text.end(), [](char16_t c) {
        return (c >= u'0' && c <= u'9') || c == u'+' || c == u',' || c == u'-' || c == u'.';
    });
}

// XORs the low byte of every code unit; the high byte of a unit stays.
void cryptText(RC4 &rc4, std::u16string &text) {
    if (!rc4.hasKey())
        return;
    for (char16_t &unit : text)
        unit = static_cast<char16_t>(unit ^ rc4.next());
}

} // namespace

PDFResult PDFEncryptionDictionary::load(MemoryParser &parser, std::uint64_t offset) {
    _ready = false;
    if (const PDFResult parsed = parse(parser, offset); parsed != PDFResult::Ok)
        return parsed;

    _encryptMetadata = getString(names::kEncryptMetadata, names::kTrue) == names::kTrue;
    if (!_encryptMetadata) {
        _ready = true;
        return PDFResult::Ok;
    }

    _filter = getString(names::kFilter, u"");
    _v = getInt(names::kV, 0);
    _r = getInt(names::kR, 0);
    _keyLength = static_cast<std::uint32_t>(getInt(names::kLength, 40)) >> 3;
    // RC4 needs at least one key byte, so a /Length below 8 bits is refused.
    if (_filter != names::kStandard || (_v != 1 && _v != 2) || (_r != 2 && _r != 3) ||
        _keyLength == 0)
        return PDFResult::EncryptionUnsupported;

    computeFileKey();
    _ready = _r == 2 ? checkUserPasswordR2() : checkUserPasswordR3();
    return _ready ? PDFResult::Ok : PDFResult::EncryptionUnsupported;
}

PDFResult PDFEncryptionDictionary::decryptStream(Bytes &bytes, std::uint32_t objectNumber,
                                                 std::uint32_t generation) const {
    if (!_ready || _filter != names::kStandard)
        return PDFResult::EncryptionUnsupported;
    RC4(objectKey(objectNumber, generation)).process(bytes);
    return PDFResult::Ok;
}

PDFResult PDFEncryptionDictionary::decryptStrings(PDFDictionary &dictionary,
                                                  std::uint32_t objectNumber,
                                                  std::uint32_t generation) const {
    if (!_ready)
        return PDFResult::EncryptionUnsupported;
    if (_filter != names::kStandard)
        return PDFResult::Ok;
    // Every string starts the keystream afresh; copying the scheduled state is cheaper than
    // running the key schedule again.
    const RC4 scheduled(objectKey(objectNumber, generation));
    for (auto &[key, value] : dictionary) {
        if (value.isReference || isNumberText(value.text))
            continue;
        RC4 rc4 = scheduled;
        cryptText(rc4, value.text);
        // The stored bytes were decoded one unit each; the plain bytes may be UTF-16BE.
        if (value.text.size() >= 2 && value.text[0] == 0xFE && value.text[1] == 0xFF) {
            const Bytes plain(value.text.begin(), value.text.end());
            bytesToText(plain, value.text);
        }
    }
    return PDFResult::Ok;
}

// ISO 32000-1, 7.6.3.3, Algorithm 2, with the empty user password.
void PDFEncryptionDictionary::computeFileKey() {
    const Bytes owner = getBytes(names::kO);
    const auto permissions = static_cast<std::uint32_t>(getInt(names::kP, 0));
    const std::array<std::uint8_t, 4> p = {
        static_cast<std::uint8_t>(permissions), static_cast<std::uint8_t>(permissions >> 8),
        static_cast<std::uint8_t>(permissions >> 16), static_cast<std::uint8_t>(permissions >> 24)};

    MD5 md5;
    md5.update(kPadding);
    md5.update(owner);
    md5.update(p);
    md5.update(firstFileId());
    MD5::Digest digest = md5.final();

    const std::size_t n = std::min<std::size_t>(_keyLength, kMaxKeyBytes);
    if (_r >= 3) {
        for (int i = 0; i < 50; ++i)
            digest = MD5::digest(std::span(digest).first(n));
    }
    _fileKey.assign(digest.begin(), digest.begin() + static_cast<std::ptrdiff_t>(n));
}

// ISO 32000-1, 7.6.2, Algorithm 1.
Bytes PDFEncryptionDictionary::objectKey(std::uint32_t objectNumber,
                                         std::uint32_t generation) const {
    const std::array<std::uint8_t, 5> suffix = {
        static_cast<std::uint8_t>(objectNumber), static_cast<std::uint8_t>(objectNumber >> 8),
        static_cast<std::uint8_t>(objectNumber >> 16), static_cast<std::uint8_t>(generation),
        static_cast<std::uint8_t>(generation >> 8)};
    MD5 md5;
    md5.update(_fileKey);
    md5.update(suffix);
    const MD5::Digest digest = md5.final();
    const std::size_t n = std::min<std::size_t>(std::size_t{_keyLength} + 5, kMaxKeyBytes);
    return Bytes(digest.begin(), digest.begin() + static_cast<std::ptrdiff_t>(n));
}

Bytes PDFEncryptionDictionary::firstFileId() const {
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

// ISO 32000-1, 7.6.3.4, Algorithms 4 and 6.
bool PDFEncryptionDictionary::checkUserPasswordR2() {
    if (_fileKey.empty())
        computeFileKey();
    Bytes expected(kPadding.begin(), kPadding.end());
    RC4(_fileKey).process(expected);
    const std::u16string u = getString(names::kU, u"");
    return std::equal(u.begin(), u.end(), expected.begin(), expected.end());
}

// ISO 32000-1, 7.6.3.4, Algorithms 5 and 6: only the first 16 bytes of /U are defined.
bool PDFEncryptionDictionary::checkUserPasswordR3() {
    if (_fileKey.empty())
        computeFileKey();
    MD5 md5;
    md5.update(kPadding);
    md5.update(firstFileId());
    MD5::Digest x = md5.final();
    RC4(_fileKey).process(x);
    Bytes key(_fileKey.size());
    for (std::uint8_t i = 1; i <= 19; ++i) {
        std::transform(_fileKey.begin(), _fileKey.end(), key.begin(),
                       [i](std::uint8_t byte) { return static_cast<std::uint8_t>(byte ^ i); });
        RC4(key).process(x);
    }
    const std::u16string u = getString(names::kU, u"");
    return u.size() >= x.size() && std::equal(x.begin(), x.end(), u.begin());
}

} // namespace vellumtag
