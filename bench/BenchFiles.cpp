#include "BenchFiles.h"

#include <cstdlib>
#include <stdexcept>
#include <sys/wait.h>

#include <fcntl.h>
#include <unistd.h>

namespace vellumtag::bench {

namespace {

constexpr std::size_t kFlushBytes = 1 << 16;

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

// Everything of a classic document but its cross-reference section.
void writeObjects(PdfWriter &writer, std::uint32_t pages) {
    writer.header();
    writer.object(kCatalog, catalog());
    const std::uint32_t nodes = nodeCount(pages);
    std::string kids;
    for (std::uint32_t node = 0; node < nodes; ++node)
        kids += ref(kFirstNode + node) + (node % 10 == 9 ? "\n" : " ");
    writer.object(kPageRoot,
                  "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
    writer.object(kInfo, info(0));
    writer.stream(kXmp, "/Type /Metadata /Subtype /XML", xmpPacket());
    writer.object(kFont, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    for (std::uint32_t node = 0; node < nodes; ++node) {
        const std::uint32_t first = node * kPagesPerNode;
        const std::uint32_t last = std::min(pages, first + kPagesPerNode);
        std::string nodeKids;
        for (std::uint32_t page = first; page < last; ++page)
            nodeKids += ref(pageObject(pages, page)) + " ";
        writer.object(kFirstNode + node, "<< /Type /Pages /Parent " + ref(kPageRoot) + " /Kids [" +
                                             nodeKids + "] /Count " + std::to_string(last - first) +
                                             " >>");
    }
    for (std::uint32_t page = 0; page < pages; ++page) {
        writer.object(pageObject(pages, page),
                      "<< /Type /Page /Parent " + ref(kFirstNode + page / kPagesPerNode) +
                          " /MediaBox [0 0 595 842] /Resources << /Font << /F1 " + ref(kFont) +
                          " >> /ProcSet [/PDF /Text] >> /Contents " +
                          ref(contentObject(pages, page)) + " >>");
        writer.stream(contentObject(pages, page), "", pageContent(page, 0));
    }
}

std::string trailerEntries() {
    return "/Root " + ref(kCatalog) + " /Info " + ref(kInfo) +
           " /ID [<8f3b5c2a91d04e6fb7a1c3d5e7f90a12> <8f3b5c2a91d04e6fb7a1c3d5e7f90a12>]";
}

} // namespace

PdfWriter::PdfWriter(const std::filesystem::path &path) {
    _fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (_fd < 0)
        throw std::runtime_error("cannot create " + path.string());
}

PdfWriter::~PdfWriter() {
    if (_fd >= 0)
        ::close(_fd);
}

void PdfWriter::write(std::string_view text) {
    _buffer.append(text);
    _position += text.size();
    if (_buffer.size() >= kFlushBytes)
        flush();
}

void PdfWriter::flush() {
    std::size_t done = 0;
    while (done < _buffer.size() && !_failed) {
        const ssize_t n = ::write(_fd, _buffer.data() + done, _buffer.size() - done);
        if (n <= 0)
            _failed = true;
        else
            done += static_cast<std::size_t>(n);
    }
    _buffer.clear();
}

void PdfWriter::header() { write("%PDF-1.5\n%\xE2\xE3\xCF\xD3\n"); }

void PdfWriter::object(std::uint32_t number, std::string_view body) {
    _pending[number] = _position;
    _size = std::max(_size, number + 1);
    write(std::to_string(number) + " 0 obj\n");
    write(body);
    write("\nendobj\n");
}

void PdfWriter::stream(std::uint32_t number, std::string_view dictionaryEntries,
                       std::string_view data) {
    _pending[number] = _position;
    _size = std::max(_size, number + 1);
    write(std::to_string(number) + " 0 obj\n<< " + std::string(dictionaryEntries) + " /Length " +
          std::to_string(data.size()) + " >>\nstream\n");
    write(data);
    write("\nendstream\nendobj\n");
}

void PdfWriter::holeStream(std::uint32_t number, std::uint64_t length) {
    _pending[number] = _position;
    _size = std::max(_size, number + 1);
    write(std::to_string(number) + " 0 obj\n<< /Type /EmbeddedFile /Length " +
          std::to_string(length) + " >>\nstream\n");
    flush();
    if (::lseek(_fd, static_cast<off_t>(length), SEEK_CUR) < 0)
        _failed = true;
    _position += length;
    write("\nendstream\nendobj\n");
}

std::uint64_t PdfWriter::xrefSection(std::string_view trailerEntries, std::int64_t prev) {
    const std::uint64_t offset = _position;
    write("xref\n");
    // Subsections of consecutive object numbers; object 0 heads the first section only.
    if (prev < 0)
        _pending.emplace(0, UINT64_MAX);
    for (auto it = _pending.begin(); it != _pending.end();) {
        auto end = it;
        std::uint32_t count = 0;
        while (end != _pending.end() && end->first == it->first + count) {
            ++end;
            ++count;
        }
        write(std::to_string(it->first) + " " + std::to_string(count) + "\n");
        for (; it != end; ++it) {
            if (it->second == UINT64_MAX) {
                write("0000000000 65535 f\r\n");
            } else {
                // Offsets of ten digits at most: files stay below 10 GB.
                const std::string digits = std::to_string(it->second);
                write(std::string(10 - std::min<std::size_t>(10, digits.size()), '0') + digits +
                      " 00000 n\r\n");
            }
        }
    }
    _pending.clear();
    std::string trailer =
        "trailer\n<< /Size " + std::to_string(_size) + " " + std::string(trailerEntries);
    if (prev >= 0)
        trailer += " /Prev " + std::to_string(prev);
    write(trailer + " >>\nstartxref\n" + std::to_string(offset) + "\n%%EOF\n");
    return offset;
}

bool PdfWriter::finish() {
    flush();
    if (_fd >= 0 && ::close(_fd) != 0)
        _failed = true;
    _fd = -1;
    return !_failed;
}

std::uint32_t writeClassic(const std::filesystem::path &path, std::uint32_t pages) {
    PdfWriter writer(path);
    writeObjects(writer, pages);
    writer.xrefSection(trailerEntries(), -1);
    if (!writer.finish())
        throw std::runtime_error("cannot write " + path.string());
    return contentObject(pages, pages - 1) + 1;
}

void writeIncremental(const std::filesystem::path &path, std::uint32_t pages, std::uint32_t updates,
                      std::uint32_t objectsPerUpdate) {
    PdfWriter writer(path);
    writeObjects(writer, pages);
    auto prev = static_cast<std::int64_t>(writer.xrefSection(trailerEntries(), -1));
    for (std::uint32_t update = 1; update <= updates; ++update) {
        writer.object(kInfo, info(update));
        for (std::uint32_t i = 0; i < objectsPerUpdate; ++i) {
            const std::uint32_t page = (update * objectsPerUpdate + i) % pages;
            writer.stream(contentObject(pages, page), "", pageContent(page, update));
        }
        prev = static_cast<std::int64_t>(writer.xrefSection(trailerEntries(), prev));
    }
    if (!writer.finish())
        throw std::runtime_error("cannot write " + path.string());
}

void writeOneBigStream(const std::filesystem::path &path, std::uint64_t bytes) {
    constexpr std::uint32_t kPage = kFirstNode, kContent = kFirstNode + 1, kBig = kFirstNode + 2;
    PdfWriter writer(path);
    writer.header();
    writer.object(kCatalog, catalog());
    writer.object(kPageRoot, "<< /Type /Pages /Kids [" + ref(kPage) + "] /Count 1 >>");
    writer.object(kPage, "<< /Type /Page /Parent " + ref(kPageRoot) +
                             " /MediaBox [0 0 595 842] /Resources << /Font << /F1 " + ref(kFont) +
                             " >> >> /Contents " + ref(kContent) + " >>");
    writer.stream(kContent, "", pageContent(0, 0));
    // What the rest of the document takes, give or take a few bytes.
    constexpr std::uint64_t kRest = 4096;
    writer.holeStream(kBig, bytes > kRest ? bytes - kRest : 0);
    writer.object(kFont, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    writer.object(kInfo, info(0));
    writer.stream(kXmp, "/Type /Metadata /Subtype /XML", xmpPacket());
    writer.xrefSection(trailerEntries(), -1);
    if (!writer.finish())
        throw std::runtime_error("cannot write " + path.string());
}

bool runQpdf(std::string_view arguments, const std::filesystem::path &input,
             const std::filesystem::path &output) {
    const std::string command = "qpdf " + std::string(arguments) + " '" + input.string() + "' '" +
                                output.string() + "' >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status))
        return false;
    const int code = WEXITSTATUS(status);
    return (code == 0 || code == 3) && std::filesystem::exists(output);
}

} // namespace vellumtag::bench
