#include "syntax/PDFResult.h"

namespace vellumtag {

std::u16string_view resultMessage(PDFResult code) {
    switch (code) {
    case PDFResult::Ok:
        return u"OK";
    case PDFResult::FileNotReadable:
        return u"File does not exists or can't be read";
    case PDFResult::NotPdf:
        return u"Not a PDF file";
    case PDFResult::XrefNotFound:
        return u"Can't find Xref table";
    case PDFResult::ObjectNotFound:
        return u"Can't find Object number";
    case PDFResult::ObjectContentUnreadable:
        return u"Can't read object content";
    case PDFResult::BadValue:
        return u"BadValue";
    case PDFResult::EncryptionUnsupported:
        return u"PDF metadata encrypted with unsupported encryption or non-empty user password";
    case PDFResult::DecompressionFailed:
        return u"Can't uncompress PDF compressed stream";
    case PDFResult::DictionaryUnreadable:
        return u"Can't read object dictionary";
    case PDFResult::Unspecified:
        break;
    }
    return u"Unspecified error";
}

} // namespace vellumtag
