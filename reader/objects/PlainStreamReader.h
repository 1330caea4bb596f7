#pragma once

#include "objects/StreamBudget.h"
#include "xref/StreamObjectReader.h"

namespace vellumtag {

// Reads the stream objects that are never encrypted, cross-reference streams (ISO 32000-1,
// 7.6.1): inflated into a buffer of the size that their rows foresee, drawing on the
// document's stream budget, never decrypted.
class PlainStreamReader final : public StreamObjectReader {
public:
    explicit PlainStreamReader(StreamBudget &budget) : _budget(budget) {}

    PDFResult readStreamObject(MemoryParser &parser, PDFDictionary &dictionary,
                               Bytes &data) override;

private:
    StreamBudget &_budget;
};

} // namespace vellumtag
