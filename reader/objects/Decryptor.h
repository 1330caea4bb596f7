#pragma once

#include <cstdint>

#include "syntax/MemoryParser.h"
#include "syntax/PDFDictionary.h"
#include "syntax/PDFResult.h"

namespace vellumtag {

// Undoes a document's encryption for the objects that are read (ISO 32000-1, 7.6): the data of
// a stream and the strings of a dictionary, each keyed by the object they were read from. The
// security layer implements it; objects only see this.
class Decryptor {
public:
    // Decrypts the data of the stream whose dictionary is given (which tells a metadata stream
    // and a stream's own crypt filter). A failure leaves the data unusable.
    virtual PDFResult decryptStream(Bytes &bytes, std::uint32_t objectNumber,
                                    std::uint32_t generation,
                                    const PDFDictionary &stream) const = 0;
    // Decrypts the strings of the dictionary in place; a string that cannot be decrypted is
    // removed, so that it reads as missing.
    virtual PDFResult decryptStrings(PDFDictionary &dictionary, std::uint32_t objectNumber,
                                     std::uint32_t generation) const = 0;

protected:
    ~Decryptor() = default;
};

} // namespace vellumtag
