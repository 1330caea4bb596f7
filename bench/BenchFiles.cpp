#include "BenchFiles.h"

#include <stdexcept>
#include <utility>
#include <vector>

#include "support/PdfBuilder.h"

namespace vellumtag::bench {

namespace {

using test::PdfBuilder;
using test::PdfStream;

// Object numbers of the generated documents.
constexpr std::uint32_t kCatalog = 1;
constexpr std::uint32_t kPageRoot = 2;
constexpr std::uint32_t kInfo = 3;
constexpr std::uint32_t kXmp = 4;
constexpr std::uint32_t kFont = 5;
constexpr std::uint32_t kFirstNode = 6;
constexpr std::uint32_t kPagesPerNode = 10;

std::string ref(std::uint32_t number) { return std::to_string(number) + " 0 R"; }

std::string catalog() {
    return "<< /Type /Catalog /Pages " + ref(kPageRoot) + " /Metadata " + ref(kXmp) +
           " /PageMode /UseOutlines /Lang (en-GB) >>";
}

std::string info(unsigned revision) {
    const std::string day = std::to_string(10 + revision % 18);
    return "<< /Title (" + std::string(kTitle) +
           ")\n/Author (Vellumtag Team)\n/Subject (Load times of the reader)\n"
           "/Keywords (pdf, metadata, benchmark)\n/Creator (LaTeX with hyperref)\n"
           "/Producer (pdfTeX-1.40.24)\n/CreationDate (D:20240105120000+01'00')\n"
           "/ModDate (D:202402" +
           day + "093000+01'00')\n/Trapped /False\n/PTEX.Fullbanner (This is pdfTeX, " +
           "Version 3.141592653-2.6-1.40.24 (TeX Live 2022/Debian) kpathsea version 6.3.4) >>";
}

std::string xmpPacket() {
    return R"(<?xpacket begin="" id="W5M0MpCehiHzreSzNTczkc9d"?>
<x:xmpmeta xmlns:x="adobe:ns:meta/">
 <rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">
  <rdf:Description rdf:about="" xmlns:dc="http://purl.org/dc/elements/1.1/">
   <dc:format>application/pdf</dc:format>
   <dc:title><rdf:Alt><rdf:li xml:lang="x-default">Vellumtag benchmark document</rdf:li></rdf:Alt></dc:title>
   <dc:creator><rdf:Seq><rdf:li>Vellumtag Team</rdf:li></rdf:Seq></dc:creator>
   <dc:description><rdf:Alt><rdf:li xml:lang="x-default">Load times of the reader</rdf:li></rdf:Alt></dc:description>
  </rdf:Description>
  <rdf:Description rdf:about="" xmlns:pdf="http://ns.adobe.com/pdf/1.3/">
   <pdf:Producer>pdfTeX-1.40.24</pdf:Producer>
   <pdf:Keywords>pdf, metadata, benchmark</pdf:Keywords>
  </rdf:Description>
  <rdf:Description rdf:about="" xmlns:xmp="http://ns.adobe.com/xap/1.0/">
   <xmp:CreatorTool>LaTeX with hyperref</xmp:CreatorTool>
   <xmp:CreateDate>2024-01-05T12:00:00+01:00</xmp:CreateDate>
   <xmp:ModifyDate>2024-02-10T09:30:00+01:00</xmp:ModifyDate>
  </rdf:Description>
 </rdf:RDF>
</x:xmpmeta>
<?xpacket end="w"?>)";
}

std::string pageContent(std::uint32_t page, unsigned revision) {
    return "BT /F1 11 Tf 72 720 Td (Page " + std::to_string(page + 1) + ", revision " +
           std::to_string(revision) + ") Tj 0 -14 Td (The quick brown fox jumps over the lazy " +
           "dog.) Tj ET";
}

std::uint32_t nodeCount(std::uint32_t pages) { return (pages + kPagesPerNode - 1) / kPagesPerNode; }
std::uint32_t pageObject(std::uint32_t pages, std::uint32_t page) {
    return kFirstNode + nodeCount(pages) + 2 * page;
}
std::uint32_t contentObject(std::uint32_t pages, std::uint32_t page) {
    return pageObject(pages, page) + 1;
}

// Everything of a document but its cross-reference section. Objects that are not streams go
// into object streams of up to `perStream` objects when asked (0: none), numbered from the
// classic form's object count on. Returns the first object number left free.
std::uint32_t writeObjects(PdfBuilder &pdf, std::uint32_t pages, std::uint32_t perStream) {
    std::uint32_t next = contentObject(pages, pages - 1) + 1;
    std::vector<std::pair<std::uint32_t, std::string>> batch;
    const auto flush = [&] {
        if (!batch.empty())
            pdf.objectStream(next++, batch);
        batch.clear();
    };
    const auto object = [&](std::uint32_t number, std::string body) {
        if (perStream == 0) {
            pdf.object(number, body);
            return;
        }
        batch.emplace_back(number, std::move(body));
        if (batch.size() == perStream)
            flush();
    };

    object(kCatalog, catalog());
    const std::uint32_t nodes = nodeCount(pages);
    std::string kids;
    for (std::uint32_t node = 0; node < nodes; ++node)
        kids += ref(kFirstNode + node) + (node % 10 == 9 ? "\n" : " ");
    object(kPageRoot,
           "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
    object(kInfo, info(0));
    pdf.stream(kXmp, PdfStream{.entries = "/Type /Metadata /Subtype /XML", .data = xmpPacket()});
    object(kFont, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    for (std::uint32_t node = 0; node < nodes; ++node) {
        const std::uint32_t first = node * kPagesPerNode;
        const std::uint32_t last = std::min(pages, first + kPagesPerNode);
        std::string nodeKids;
        for (std::uint32_t page = first; page < last; ++page)
            nodeKids += ref(pageObject(pages, page)) + " ";
        object(kFirstNode + node, "<< /Type /Pages /Parent " + ref(kPageRoot) + " /Kids [" +
                                      nodeKids + "] /Count " + std::to_string(last - first) +
                                      " >>");
    }
    for (std::uint32_t page = 0; page < pages; ++page) {
        object(pageObject(pages, page), "<< /Type /Page /Parent " +
                                            ref(kFirstNode + page / kPagesPerNode) +
                                            " /MediaBox [0 0 595 842] /Resources << /Font << /F1 " +
                                            ref(kFont) + " >> /ProcSet [/PDF /Text] >> /Contents " +
                                            ref(contentObject(pages, page)) + " >>");
        pdf.stream(contentObject(pages, page), PdfStream{.data = pageContent(page, 0)});
    }
    flush();
    return next;
}

void save(const PdfBuilder &pdf, const std::filesystem::path &path) {
    if (!pdf.write(path))
        throw std::runtime_error("cannot write " + path.string());
}

// With encryption the builder writes /ID itself.
std::string trailerEntries(bool withId = true) {
    return "/Root " + ref(kCatalog) + " /Info " + ref(kInfo) +
           (withId ? " /ID [<8f3b5c2a91d04e6fb7a1c3d5e7f90a12> <8f3b5c2a91d04e6fb7a1c3d5e7f90a12>]"
                   : "");
}

} // namespace

std::uint32_t writeDocument(const std::filesystem::path &path, std::uint32_t pages, Form form) {
    const std::uint32_t objects = contentObject(pages, pages - 1) + 1;
    PdfBuilder pdf("1.5");
    using Cipher = test::PdfEncryption::Cipher;
    const bool encrypted = form == Form::Rc4ClassicTable || form == Form::Aes128ClassicTable ||
                           form == Form::Aes256ClassicTable;
    if (form == Form::Rc4ClassicTable)
        pdf.encrypt({.objectNumber = objects, .revision = 3, .keyBits = 128});
    else if (form == Form::Aes128ClassicTable)
        pdf.encrypt({.objectNumber = objects, .cipher = Cipher::AES128, .revision = 4});
    else if (form == Form::Aes256ClassicTable)
        pdf.encrypt({.objectNumber = objects, .cipher = Cipher::AES256, .revision = 6});
    const bool objectStreams = form == Form::ObjectStreams || form == Form::OneObjectStream;
    const std::uint32_t next = writeObjects(pdf, pages,
                                            !objectStreams                ? 0
                                            : form == Form::ObjectStreams ? 100
                                                                          : UINT32_MAX);
    if (objectStreams)
        pdf.xrefStream(next, trailerEntries(), {.predictor = true});
    else
        pdf.xrefTable(trailerEntries(!encrypted));
    save(pdf, path);
    return objects;
}

void writeIncremental(const std::filesystem::path &path, std::uint32_t pages, std::uint32_t updates,
                      std::uint32_t objectsPerUpdate) {
    PdfBuilder pdf("1.5");
    writeObjects(pdf, pages, 0);
    pdf.xrefTable(trailerEntries());
    for (std::uint32_t update = 1; update <= updates; ++update) {
        pdf.object(kInfo, info(update));
        for (std::uint32_t i = 0; i < objectsPerUpdate; ++i) {
            const std::uint32_t page = (update * objectsPerUpdate + i) % pages;
            pdf.stream(contentObject(pages, page), PdfStream{.data = pageContent(page, update)});
        }
        pdf.xrefTable(trailerEntries());
    }
    save(pdf, path);
}

void writeOneBigStream(const std::filesystem::path &path, std::uint64_t bytes) {
    constexpr std::uint32_t kPage = kFirstNode, kContent = kFirstNode + 1, kBig = kFirstNode + 2;
    PdfBuilder pdf("1.5");
    pdf.object(kCatalog, catalog());
    pdf.object(kPageRoot, "<< /Type /Pages /Kids [" + ref(kPage) + "] /Count 1 >>");
    pdf.object(kPage, "<< /Type /Page /Parent " + ref(kPageRoot) +
                          " /MediaBox [0 0 595 842] /Resources << /Font << /F1 " + ref(kFont) +
                          " >> >> /Contents " + ref(kContent) + " >>");
    pdf.stream(kContent, PdfStream{.data = pageContent(0, 0)});
    // What the rest of the document takes, give or take a few bytes.
    constexpr std::uint64_t kRest = 4096;
    pdf.holeStream(kBig, "/Type /EmbeddedFile", bytes > kRest ? bytes - kRest : 0);
    pdf.object(kFont, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    pdf.object(kInfo, info(0));
    pdf.stream(kXmp, PdfStream{.entries = "/Type /Metadata /Subtype /XML", .data = xmpPacket()});
    pdf.xrefTable(trailerEntries());
    save(pdf, path);
}

} // namespace vellumtag::bench
