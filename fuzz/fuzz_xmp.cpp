// XMP extraction: the XML reading of a packet (the eight keys and the whole packet), the UTF-8
// decoding, and the text search that reads packets which are not well-formed, for every key of
// the table.
#include <cstddef>
#include <cstdint>

#include "metadata/PDFInfoObject.h"
#include "metadata/XmpPacket.h"
#include "syntax/TextEncoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static_cast<void>(vellumtag::XmpPacket::read({data, size}));
    static_cast<void>(vellumtag::XmpPacket::readAll({data, size}));
    const std::u16string packet = vellumtag::decodeUtf8({data, size});
    for (const auto *name :
         {u"dc:title", u"dc:creator", u"dc:description", u"pdf:Keywords", u"pdf:Producer",
          u"xmp:CreatorTool", u"xmp:CreateDate", u"xmp:ModifyDate"})
        static_cast<void>(vellumtag::PDFInfoObject::extractNodeText(packet, name));
    // Bytes taken one unit each, as a packet that was not UTF-8 would never be.
    const std::u16string raw(data, data + size);
    static_cast<void>(vellumtag::PDFInfoObject::extractNodeText(raw, u"dc:title"));
    return 0;
}
