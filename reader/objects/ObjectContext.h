#pragma once

#include "objects/Decryptor.h"
#include "objects/StreamBudget.h"
#include "syntax/MemoryParser.h"
#include "xref/PDFXrefTable.h"

namespace vellumtag {

// What reading objects needs, given to it rather than reached for: the scanner over the file,
// the object index that finds an object by number (none where objects are read by offset
// only), the decryptor of the document (none when it is not encrypted, and for data that are
// never encrypted), and the budget that all the document's streams draw on (none: only the
// limit of one stream applies).
struct ObjectContext {
    MemoryParser &parser;
    PDFXrefTable *xref = nullptr;
    const Decryptor *decryptor = nullptr;
    StreamBudget *budget = nullptr;
};

} // namespace vellumtag
