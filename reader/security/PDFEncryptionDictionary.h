#pragma once

#include <cstdint>
#include <string>

#include "objects/Decryptor.h"
#include "syntax/MemoryParser.h"
#include "syntax/PDFDictionary.h"
#include "syntax/PDFResult.h"

namespace vellumtag {

// The Standard security handler (ISO 32000-1, 7.6.3) for revisions 2 and 3 (RC4, 40 to 128-bit
// keys) when the user password is empty: derives the file key from the /Encrypt dictionary held
// in the base, proves it against /U, and decrypts stream data and string values with
// per-object keys. Everything else (other handlers, /V 4 and up, AES, a real user password, a
// key shorter than one byte) leaves it not ready, which the reader reports as 106.
class PDFEncryptionDictionary final : public PDFDictionary, public Decryptor {
public:
    // fileId is the text of the trailer's /ID, the source of the first file identifier.
    explicit PDFEncryptionDictionary(std::u16string fileId = {}) : _fileId(std::move(fileId)) {}

    // Parses the /Encrypt dictionary at the offset and sets up decryption.
    PDFResult load(MemoryParser &parser, std::uint64_t offset);

    PDFResult decryptStream(Bytes &bytes, std::uint32_t objectNumber,
                            std::uint32_t generation) const override;
    // Decrypts in place the values of a dictionary read from that object, except references
    // and values made only of digits and "+,-.".
    PDFResult decryptStrings(PDFDictionary &dictionary, std::uint32_t objectNumber,
                             std::uint32_t generation) const override;

    void computeFileKey();
    Bytes objectKey(std::uint32_t objectNumber, std::uint32_t generation) const;
    Bytes firstFileId() const;
    bool checkUserPasswordR2();
    bool checkUserPasswordR3();

    std::u16string _fileId;
    Bytes _fileKey;
    std::u16string _filter;
    bool _ready = false;
    bool _encryptMetadata = true;
    std::int32_t _v = 0;
    std::int32_t _r = 0;
    std::uint32_t _keyLength = 5;
};

} // namespace vellumtag
