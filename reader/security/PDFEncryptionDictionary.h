#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "objects/Decryptor.h"
#include "syntax/MemoryParser.h"
#include "syntax/PDFDictionary.h"
#include "syntax/PDFResult.h"

namespace vellumtag {

// The Standard security handler (ISO 32000-1, 7.6.3; ISO 32000-2, 7.6.4) for revisions 2 to 6,
// when the empty string opens the document as the user password or, failing that, as the owner
// password: RC4 (/V 1 and 2), crypt filters (/V 4: /V2, /AESV2, /None and /Identity) and
// AES-256 (/V 5, revisions 5 and 6). load derives the file key once; streams and strings are
// then decrypted with the key of their object (7.6.2). Whatever it does not implement (another
// handler, an unknown crypt filter method, a password that is not empty) leaves it not ready,
// which the reader reports as 106, so that encrypted bytes are never taken for text.
class PDFEncryptionDictionary final : public PDFDictionary, public Decryptor {
public:
    // How a crypt filter encrypts (7.6.5, table 25).
    enum class Method { None, RC4, AES128, AES256, Unknown };

    // fileId is the text of the trailer's /ID, the source of the first file identifier.
    explicit PDFEncryptionDictionary(std::u16string fileId = {}) : _fileId(std::move(fileId)) {}
    // The same from the /ID value as read, whose first string may also be a literal one.
    explicit PDFEncryptionDictionary(const PDFValue &fileId)
        : _fileId(fileId.text), _fileIdWritten(fileId.raw) {}

    // Parses the /Encrypt dictionary at the offset, an object's header or the dictionary
    // itself, and sets up decryption.
    PDFResult load(MemoryParser &parser, std::uint64_t offset);
    // Sets up decryption from entries already read: an /Encrypt written in the trailer.
    PDFResult load(const PDFDictionary &entries);

    // Leaves a metadata stream as stored when /EncryptMetadata is false (7.6.1), and follows a
    // stream's own /Crypt filter (7.4.10). 105 for AES data that do not decrypt.
    PDFResult decryptStream(Bytes &bytes, std::uint32_t objectNumber, std::uint32_t generation,
                            const PDFDictionary &stream) const override;
    // Decrypts the strings of the dictionary, whatever their text, and nothing else; removes a
    // string that AES cannot decrypt.
    PDFResult decryptStrings(PDFDictionary &dictionary, std::uint32_t objectNumber,
                             std::uint32_t generation) const override;

    // The key of one object (7.6.2, Algorithms 1 and 1.A).
    Bytes objectKey(std::uint32_t objectNumber, std::uint32_t generation, Method method) const;
    Bytes firstFileId() const;

    // AES-CBC decryption of data that begin with their 16-byte initialisation vector, with the
    // PKCS #7 padding removed (7.6.2): false when the length or the padding is wrong.
    static bool aesDecrypt(std::span<const std::uint8_t> key, Bytes &data);
    // The hash of revision 6 (ISO 32000-2, 7.6.4.3.4, Algorithm 2.B); of revision 5, SHA-256
    // of the same input.
    static Bytes passwordHash(int revision, std::span<const std::uint8_t> password,
                              std::span<const std::uint8_t> salt,
                              std::span<const std::uint8_t> userKey);

    std::u16string _fileId;
    // /ID as written between its brackets, when it was read as an array.
    Bytes _fileIdWritten;
    Bytes _fileKey;
    std::u16string _filter;
    bool _ready = false;
    bool _encryptMetadata = true;
    std::int32_t _v = 0;
    std::int32_t _r = 0;
    std::uint32_t _keyLength = 5;
    std::int32_t _permissions = 0;
    Method _streams = Method::None;
    Method _strings = Method::None;

private:
    PDFResult setUp();
    // The method of a crypt filter named by /StmF, /StrF or a stream's /Crypt (7.6.5).
    Method cryptFilter(std::u16string_view name) const;
    // Revisions 2 to 4 (7.6.3.3 and 7.6.3.4, Algorithms 2, 4, 5, 6 and 7).
    Bytes fileKeyFor(std::span<const std::uint8_t> paddedPassword) const;
    bool userKeyMatches(const Bytes &key) const;
    Bytes userPasswordFromOwner() const;
    // Revisions 5 and 6 (ISO 32000-2, 7.6.4.3.3, Algorithms 2.A and 13).
    bool openAes256();
    // The key lengths in bytes that /V 1, 2 and 4 may mean (7.6.1, table 20; 7.6.5, table 25),
    // the one the dictionary states first.
    std::vector<std::uint32_t> keyLengths() const;
};

} // namespace vellumtag
