#pragma once

#include "syntax/MemoryParser.h"
#include "syntax/PDFDictionary.h"
#include "syntax/PDFResult.h"

namespace vellumtag {

// How the cross-reference reader gets at a cross-reference stream (ISO 32000-1, 7.5.8): the
// indirect object at the parser's cursor, its dictionary, and its data inflated but never
// decrypted (7.6.1). Reading objects and their filters belongs to the layer above, which
// passes an implementation down.
class StreamObjectReader {
public:
    virtual PDFResult readStreamObject(MemoryParser &parser, PDFDictionary &dictionary,
                                       Bytes &data) = 0;

protected:
    ~StreamObjectReader() = default;
};

} // namespace vellumtag
