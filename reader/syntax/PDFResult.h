#pragma once

#include <cstdint>
#include <string_view>

namespace vellumtag {

// Outcome of every reading step. The numeric values are part of the console tool's output.
enum class PDFResult : std::int32_t {
    Ok = 0,
    FileNotReadable = 100,
    NotPdf = 101,
    XrefNotFound = 102,
    ObjectNotFound = 103,
    ObjectContentUnreadable = 104,
    BadValue = 105,
    EncryptionUnsupported = 106,
    DecompressionFailed = 107,
    DictionaryUnreadable = 108,
    Unspecified = 199,
};

// The fixed message of a result code; codes outside the table read as "Unspecified error".
std::u16string_view resultMessage(PDFResult code);

} // namespace vellumtag
