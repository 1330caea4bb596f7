// Writes the small sample PDFs of samples/ into the folder given. They are committed; run this
// (through scripts/make-samples) only to change them. Each is a
// minimal but well-formed PDF with classic cross-reference tables (ISO 32000-1, 7.5).
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "support/PdfBuilder.h"

using vellumtag::test::PdfBuilder;
using vellumtag::test::PdfStream;

namespace {

// A text string in UTF-16BE with its byte order mark, as hexadecimal.
std::string utf16(std::u16string_view text) {
    std::string out = "<FEFF";
    for (const char16_t unit : text) {
        char digits[5];
        std::snprintf(digits, sizeof digits, "%04X", static_cast<unsigned>(unit));
        out += digits;
    }
    return out + ">";
}

// A page tree node `first` with `count` pages after it.
void pages(PdfBuilder &pdf, std::uint32_t first, std::uint32_t count) {
    std::string kids;
    for (std::uint32_t i = 1; i <= count; ++i)
        kids.append(i == 1 ? "" : " ").append(std::to_string(first + i)).append(" 0 R");
    pdf.object(first,
               "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(count) + " >>");
    for (std::uint32_t i = 1; i <= count; ++i)
        pdf.object(first + i, "<< /Type /Page /Parent " + std::to_string(first) +
                                  " 0 R /MediaBox [0 0 612 792] >>");
}

PdfBuilder hello() {
    PdfBuilder pdf;
    pdf.object(1, "<< /Type /Catalog /Pages 2 0 R >>");
    pages(pdf, 2, 1);
    pdf.object(4, "<< /Title (Hello, Vellumtag) /Author (Vellumtag Team) "
                  "/Subject (A one-page sample) /Keywords (pdf, metadata, sample) "
                  "/Creator (make-samples) /Producer (Vellumtag sample writer) "
                  "/CreationDate (D:20261208120000+01'00') /ModDate (D:20261208130500Z) >>");
    return std::move(pdf.xrefTable("/Root 1 0 R /Info 4 0 R"));
}

PdfBuilder unicodeTitle() {
    PdfBuilder pdf;
    pdf.object(1, "<< /Type /Catalog /Pages 2 0 R >>");
    pages(pdf, 2, 2);
    pdf.object(5, "<< /Title " + utf16(u"Ünïcødé — 日本語のタイトル \U0001F4DA") +
                      " /Author (Jos\\351 Mart\\355nez) /Subject " +
                      utf16(u"Ελληνικά και русский") + " /Producer (make-samples) >>");
    return std::move(pdf.xrefTable("/Root 1 0 R /Info 5 0 R"));
}

// With the byte order mark U+FEFF in UTF-8 at the start of the processing instruction.
constexpr std::string_view kXmp =
    "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>"
    R"(
<x:xmpmeta xmlns:x="adobe:ns:meta/">
 <rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">
  <rdf:Description rdf:about="" xmlns:dc="http://purl.org/dc/elements/1.1/"
    xmlns:xmp="http://ns.adobe.com/xap/1.0/" xmlns:pdf="http://ns.adobe.com/pdf/1.3/">
   <dc:title><rdf:Alt><rdf:li xml:lang="x-default">Notes on Metadata — XMP only</rdf:li></rdf:Alt></dc:title>
   <dc:creator><rdf:Seq><rdf:li>Ada Lovelace</rdf:li></rdf:Seq></dc:creator>
   <dc:description><rdf:Alt><rdf:li xml:lang="x-default">Metadata kept only in XMP</rdf:li></rdf:Alt></dc:description>
   <pdf:Producer>make-samples</pdf:Producer>
   <xmp:CreatorTool>a text editor</xmp:CreatorTool>
   <xmp:CreateDate>2026-12-01T09:30:00+01:00</xmp:CreateDate>
   <xmp:ModifyDate>2026-12-02T10:00:00Z</xmp:ModifyDate>
  </rdf:Description>
 </rdf:RDF>
</x:xmpmeta>
<?xpacket end="w"?>)";

PdfBuilder xmpOnly() {
    PdfBuilder pdf;
    pdf.object(1, "<< /Type /Catalog /Pages 2 0 R /Metadata 6 0 R >>");
    pages(pdf, 2, 3);
    pdf.stream(6, PdfStream{.entries = "/Type /Metadata /Subtype /XML", .data = std::string(kXmp)});
    return std::move(pdf.xrefTable("/Root 1 0 R"));
}

PdfBuilder updated() {
    PdfBuilder pdf("1.4");
    pdf.object(1, "<< /Type /Catalog /Pages 2 0 R >>");
    pages(pdf, 2, 1);
    pdf.object(4, "<< /Title (First draft) /Author (Vellumtag Team) /Company (Vellumtag) >>");
    pdf.xrefTable("/Root 1 0 R /Info 4 0 R");
    // An incremental update (ISO 32000-1, 7.5.6) that replaces the information dictionary.
    pdf.object(4, "<< /Title (Final version) /Author (Vellumtag Team) /Company (Vellumtag) "
                  "/Category (Samples) /Comments (Saved twice: the newer /Info wins) >>");
    return std::move(pdf.xrefTable("/Root 1 0 R /Info 4 0 R"));
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_samples FOLDER\n");
        return 2;
    }
    const std::filesystem::path folder(argv[1]);
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const std::pair<const char *, PdfBuilder> files[] = {
        {"hello.pdf", hello()},
        {"unicode-title.pdf", unicodeTitle()},
        {"xmp-only.pdf", xmpOnly()},
        {"updated.pdf", updated()},
    };
    for (const auto &[name, pdf] : files) {
        if (!pdf.write(folder / name)) {
            std::fprintf(stderr, "make_samples: cannot write %s\n",
                         (folder / name).string().c_str());
            return 1;
        }
    }
    return 0;
}
