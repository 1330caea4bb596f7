// Writes synthetic seeds for the fuzz targets with the PDF builder of tests/support, in the
// corpus layout of make_seeds.py: OUT_DIR/<target>/<SHA-1 of the seed>. scripts/fuzz runs it
// beside make_seeds.py, which takes its seeds from real files.
//
//   document     whole files: a classic table, incremental updates, cross-reference streams
//                with and without compression and predictor, object streams, RC4 revisions
//                2 and 3, AES-128 and AES-256 (revisions 5 and 6); and each damaged as files
//                are in the wild, for the recovery scan
//   xref_stream  each file from its last startxref offset on
//   dictionary   the dictionaries of each file (not those inside stream data)
//                and random documents whose dictionaries carry junk objects of every kind
//   xmp          packets in the shapes the XML reading meets: element and attribute forms,
//                rdf:Alt, rdf:Seq and rdf:Bag, other prefixes, entities, a document type
#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/GrammarDocuments.h"
#include "support/PdfBuilder.h"

namespace fs = std::filesystem;
using vellumtag::test::PdfBuilder;
using vellumtag::test::PdfStream;

namespace {

// SHA-1 (FIPS 180-4) in hexadecimal: libFuzzer names the inputs it adds to a corpus so.
std::string sha1(std::string_view message) {
    std::array<std::uint32_t, 5> h = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    std::string data(message);
    data += '\x80';
    data.append((55 - message.size() % 64 + 64) % 64, '\0');
    const std::uint64_t bits = std::uint64_t{message.size()} * 8;
    for (int i = 7; i >= 0; --i)
        data += static_cast<char>((bits >> (8 * i)) & 0xFF);
    for (std::size_t block = 0; block < data.size(); block += 64) {
        std::array<std::uint32_t, 80> w{};
        for (std::size_t i = 0; i < 16; ++i) {
            for (std::size_t b = 0; b < 4; ++b)
                w[i] = (w[i] << 8) | static_cast<unsigned char>(data[block + 4 * i + b]);
        }
        for (std::size_t i = 16; i < 80; ++i)
            w[i] = std::rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
        auto [a, b, c, d, e] = h;
        for (std::size_t i = 0; i < 80; ++i) {
            const std::uint32_t f = i < 20   ? (b & c) | (~b & d)
                                    : i < 40 ? b ^ c ^ d
                                    : i < 60 ? (b & c) | (b & d) | (c & d)
                                             : b ^ c ^ d;
            const std::uint32_t k = i < 20   ? 0x5A827999
                                    : i < 40 ? 0x6ED9EBA1
                                    : i < 60 ? 0x8F1BBCDC
                                             : 0xCA62C1D6;
            const std::uint32_t t = std::rotl(a, 5) + f + e + k + w[i];
            e = d;
            d = c;
            c = std::rotl(b, 30);
            b = a;
            a = t;
        }
        h = {h[0] + a, h[1] + b, h[2] + c, h[3] + d, h[4] + e};
    }
    std::string out;
    for (const std::uint32_t word : h) {
        char digits[9];
        std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(word));
        out += digits;
    }
    return out;
}

bool put(const fs::path &folder, std::string_view seed) {
    std::error_code error;
    fs::create_directories(folder, error);
    std::ofstream out(folder / sha1(seed), std::ios::binary);
    out.write(seed.data(), static_cast<std::streamsize>(seed.size()));
    return static_cast<bool>(out);
}

// The outermost "<<" ... ">>" runs of a file, stepping over stream data.
std::vector<std::string_view> dictionaries(std::string_view file) {
    std::vector<std::string_view> found;
    std::size_t start = 0;
    int depth = 0;
    for (std::size_t at = 0; at + 1 < file.size(); ++at) {
        const std::string_view two = file.substr(at, 2);
        if (depth == 0 && file.substr(at).starts_with("stream\n")) {
            const std::size_t end = file.find("endstream", at);
            if (end == std::string_view::npos)
                break;
            at = end + std::string_view("endstream").size() - 1;
        } else if (two == "<<") {
            if (depth++ == 0)
                start = at;
            ++at;
        } else if (two == ">>" && depth > 0) {
            if (--depth == 0)
                found.push_back(file.substr(start, at + 2 - start));
            ++at;
        }
    }
    return found;
}

constexpr std::string_view kXmp =
    "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?><x:xmpmeta xmlns:x=\"adobe:ns:meta/\">"
    "<rdf:RDF><rdf:Description><dc:title><rdf:Alt><rdf:li>Seed title</rdf:li></rdf:Alt>"
    "</dc:title><xmp:CreateDate>2024-01-05T12:00:00Z</xmp:CreateDate></rdf:Description>"
    "</rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";

// Catalog 1, page tree 2 with page 3, information dictionary 4, XMP 5, page content 6; the
// objects that are not streams go into object stream 7 when asked.
void writeDocument(PdfBuilder &pdf, bool objectStreams) {
    const std::vector<std::pair<std::uint32_t, std::string>> objects = {
        {1, "<< /Type /Catalog /Pages 2 0 R /Metadata 5 0 R >>"},
        {2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"},
        {3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 6 0 R >>"},
        {4, "<< /Title (Seed \\(one\\)) /Author <FEFF00C9006C00E9006F006E006F00720065> "
            "/CreationDate (D:20240105120000+01'00') /Trapped /False >>"},
    };
    if (objectStreams)
        pdf.objectStream(7, objects);
    else
        for (const auto &[number, body] : objects)
            pdf.object(number, body);
    pdf.stream(5, PdfStream{.entries = "/Type /Metadata /Subtype /XML", .data = std::string(kXmp)});
    pdf.stream(6, PdfStream{.data = "BT /F1 12 Tf 72 720 Td (Seed) Tj ET", .deflate = true});
}

std::vector<PdfBuilder> documents() {
    const std::string trailer = "/Root 1 0 R /Info 4 0 R";
    std::vector<PdfBuilder> out;
    const auto add = [&](const char *version) -> PdfBuilder & { return out.emplace_back(version); };

    writeDocument(add("1.4"), false);
    out.back().xrefTable(trailer);

    writeDocument(add("1.4"), false);
    out.back().xrefTable(trailer).object(4, "<< /Title (Updated) >>").xrefTable(trailer);
    out.back().object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 /Updated true >>");
    out.back().xrefTable(trailer);

    writeDocument(add("1.5"), false);
    out.back().xrefStream(8, trailer, {.predictor = true});

    writeDocument(add("1.5"), false);
    out.back().xrefStream(8, trailer, {.deflate = false});

    writeDocument(add("1.5"), true);
    out.back().xrefStream(8, trailer, {.predictor = true});

    writeDocument(add("1.4").encrypt({.objectNumber = 9, .revision = 2}), false);
    out.back().xrefTable(trailer);

    writeDocument(add("1.5").encrypt({.objectNumber = 9, .revision = 3}), true);
    out.back().xrefStream(8, trailer, {.predictor = true});

    // AES-128 through a crypt filter, and AES-256 by revisions 6 and 5, the XMP left clear.
    using Cipher = vellumtag::test::PdfEncryption::Cipher;
    writeDocument(add("1.6").encrypt({.objectNumber = 9, .cipher = Cipher::AES128, .revision = 4}),
                  false);
    out.back().xrefTable(trailer);
    writeDocument(add("1.7").encrypt({.objectNumber = 9, .cipher = Cipher::AES256, .revision = 6}),
                  true);
    out.back().xrefStream(8, trailer, {.predictor = true});
    writeDocument(
        add("1.7").encrypt(
            {.objectNumber = 9, .cipher = Cipher::AES256, .revision = 5, .encryptMetadata = false}),
        false);
    out.back().xrefTable(trailer);
    return out;
}

// The file damaged in the ways that send the reader to its recovery scan or its tolerances:
// a preamble, startxref zeroed, the file cut after its last object, a block after %%EOF.
std::vector<std::string> damaged(const std::string &file) {
    std::vector<std::string> out;
    out.push_back("Content-Type: application/pdf\r\n\r\n" + file);
    const std::size_t startxref = file.rfind("startxref\n");
    if (startxref != std::string::npos) {
        std::string zeroed = file.substr(0, startxref + 10);
        zeroed += "0\n%%EOF\n";
        out.push_back(std::move(zeroed));
    }
    const std::size_t last = file.rfind("endobj");
    if (last != std::string::npos)
        out.push_back(file.substr(0, last + 7));
    out.push_back(file + std::string(300, '\0'));
    return out;
}

const char *const kXmpPackets[] = {
    "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>"
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
    "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description rdf:about=\"\" "
    "xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\" xmlns:xap=\"http://ns.adobe.com/xap/1.0/\" "
    "pdf:Producer=\"Attr &amp; form\" xap:CreateDate=\"2024-01-05T12:00:00Z\"/>"
    "<rdf:Description rdf:about=\"\" xmlns:d=\"http://purl.org/dc/elements/1.1/\">"
    "<d:title><rdf:Alt><rdf:li xml:lang=\"de\">Titel</rdf:li><rdf:li xml:lang=\"x-default\">"
    "Title &#x2122;</rdf:li></rdf:Alt></d:title><d:creator><rdf:Seq><rdf:li>Alice</rdf:li>"
    "<rdf:li>Bob</rdf:li></rdf:Seq></d:creator><d:subject><rdf:Bag><rdf:li>a</rdf:li>"
    "</rdf:Bag></d:subject></rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>",
    "<!DOCTYPE x [<!ENTITY a \"aa\">]><x:xmpmeta><rdf:RDF><rdf:Description><dc:title>&a;"
    "<![CDATA[<raw>]]></dc:title><pdf:Keywords>k</pdf:Keywords></rdf:Description></rdf:RDF>"
    "</x:xmpmeta>",
};

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_seeds OUT_DIR\n");
        return 2;
    }
    const fs::path out(argv[1]);
    bool written = true;
    for (const PdfBuilder &pdf : documents()) {
        const std::string file = pdf.str();
        written &= put(out / "document", file);
        written &=
            put(out / "xref_stream",
                std::string_view(file).substr(static_cast<std::size_t>(pdf.lastSectionOffset())));
        for (const std::string_view dictionary : dictionaries(file))
            written &= put(out / "dictionary", dictionary);
        for (const std::string &broken : damaged(file))
            written &= put(out / "document", broken);
    }
    // Random documents of junk objects of every kind, as the grammar test writes them, from a
    // fixed seed.
    std::mt19937 random(2026);
    for (int i = 0; i < 20; ++i) {
        const std::string file = vellumtag::test::grammarDocument(random).bytes;
        written &= put(out / "document", file);
        for (const std::string_view dictionary : dictionaries(file))
            written &= put(out / "dictionary", dictionary);
    }
    for (const char *packet : kXmpPackets)
        written &= put(out / "xmp", packet);
    if (!written) {
        std::fprintf(stderr, "write_seeds: cannot write into %s\n", out.string().c_str());
        return 1;
    }
    return 0;
}
