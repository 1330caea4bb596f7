#include "syntax/PDFResult.h"

namespace vellumtag {

namespace {

struct Message {
    PDFResult code;
    std::u16string_view text;
};

constexpr Message kMessages[] = {
    {PDFResult::Ok, u"OK"},
    {PDFResult::FileNotReadable, u"File does not exists or can't be read"},
    {PDFResult::NotPdf, u"Not a PDF file"},
    {PDFResult::XrefNotFound, u"Can't find Xref table"},
    {PDFResult::ObjectNotFound, u"Can't find Object number"},
    {PDFResult::ObjectContentUnreadable, u"Can't read object content"},
    {PDFResult::BadValue, u"BadValue"},
    {PDFResult::EncryptionUnsupported,
     u"PDF metadata encrypted with unsupported encryption or non-empty user password"},
    {PDFResult::DecompressionFailed, u"Can't uncompress PDF compressed stream"},
    {PDFResult::DictionaryUnreadable, u"Can't read object dictionary"},
};

} // namespace

std::u16string_view resultMessage(PDFResult code) {
    for (const Message &message : kMessages) {
        if (message.code == code)
            return message.text;
    }
    return u"Unspecified error";
}

} // namespace vellumtag
