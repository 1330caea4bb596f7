#include "support/HostileFiles.h"

#include <cstdint>
#include <cstdio>
#include <zlib.h>

#include "support/PdfBuilder.h"

namespace vellumtag::test {

// After a full flush every further MiB of zeros deflates to the same bytes, so they are
// repeated, and the Adler-32 trailer is computed for the whole.
std::string zeroBomb(std::size_t mebibytes) {
    const std::string zeros(std::size_t{1} << 20, '\0');
    z_stream stream{};
    deflateInit(&stream, 9);
    auto deflateChunk = [&](int flush) {
        std::string out, buffer(std::size_t{1} << 16, '\0');
        stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(zeros.data()));
        stream.avail_in = static_cast<uInt>(zeros.size());
        do {
            stream.next_out = reinterpret_cast<Bytef *>(buffer.data());
            stream.avail_out = static_cast<uInt>(buffer.size());
            deflate(&stream, flush);
            out.append(buffer.data(), buffer.size() - stream.avail_out);
        } while (stream.avail_out == 0);
        return out;
    };
    std::string bomb;
    if (mebibytes > 1) {
        bomb = deflateChunk(Z_FULL_FLUSH);
        const std::string repeated = deflateChunk(Z_FULL_FLUSH);
        bomb.reserve(bomb.size() + repeated.size() * mebibytes + 2048);
        for (std::size_t i = 2; i < mebibytes; ++i)
            bomb += repeated;
    }
    bomb += deflateChunk(Z_FINISH);
    deflateEnd(&stream);
    const uLong chunkSum =
        adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef *>(zeros.data()),
                static_cast<uInt>(zeros.size()));
    uLong sum = chunkSum;
    for (std::size_t i = 1; i < mebibytes; ++i)
        sum = adler32_combine(sum, chunkSum, static_cast<z_off_t>(zeros.size()));
    for (int i = 0; i < 4; ++i)
        bomb[bomb.size() - 4 + static_cast<std::size_t>(i)] =
            static_cast<char>((sum >> (24 - 8 * i)) & 0xFF);
    return bomb;
}

std::string objectStreamFile(const std::string &objectStreamEntries,
                             const std::string &objectStreamData) {
    return PdfBuilder("1.5")
        .stream(5,
                "<< /Type /ObjStm " + objectStreamEntries + " /Length " +
                    std::to_string(objectStreamData.size()) + " >>",
                objectStreamData)
        .inObjectStream(1, 5, 0)
        .inObjectStream(2, 5, 1)
        .xrefStream(9, "/Root 1 0 R /Info 2 0 R", {.widths = {1, 4, 1}, .deflate = false})
        .str();
}

PdfBuilder objectsAtBothEnds(std::uint64_t gap) {
    PdfBuilder builder("1.4");
    builder.raw("1 0 obj\n<< /Type /Catalog >>\nendobj\n")
        .hole(gap)
        .raw("\n2 0 obj\n<< /Title (Far apart) >>\nendobj\ntrailer\n<< /Root 1 0 R /Info 2 0 R "
             ">>\n%%EOF\n");
    return builder;
}

namespace {

std::string repeated(std::string_view piece, std::size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i)
        out.append(piece);
    return out;
}

// A page tree root without /Count whose /Kids name `kids` distinct objects, of which the file
// holds only the first: the walk that counts the leaves has that many nodes to visit.
std::string manyKids(std::size_t kids) {
    std::string array;
    array.reserve(kids * 12);
    for (std::size_t i = 0; i < kids; ++i)
        array += std::to_string(10 + i) + " 0 R ";
    return PdfBuilder()
        .object(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .object(2, "<< /Type /Pages /Kids [" + array + "] >>")
        .object(10, "<< /Type /Page /Parent 2 0 R >>")
        .build("/Root 1 0 R");
}

// A section of one entry whose /Prev is given, as written by hand: ten digits for every offset,
// so that each section's length is known before the offsets are.
std::string loopSection(int object, std::uint64_t prev, const char *extra) {
    char text[128];
    std::snprintf(text, sizeof text,
                  "xref\n%d 1\n0000000009 00000 n \ntrailer\n<< /Prev %010llu %s >>\n", object,
                  static_cast<unsigned long long>(prev), extra);
    return text;
}

std::string prevLoop(bool pair) {
    PdfBuilder builder("1.4");
    const std::uint64_t a = builder.offset();
    const std::uint64_t b = a + loopSection(0, 0, "").size();
    // Two sections that name each other, the newer naming an /Info that is nowhere; or one
    // section that is its own /Prev.
    if (pair)
        builder.raw(loopSection(0, b, "")).raw(loopSection(1, a, "/Info 7 0 R"));
    else
        builder.raw(loopSection(0, a, ""));
    return builder.raw("startxref\n" + std::to_string(pair ? b : a) + "\n%%EOF\n").str();
}

std::string offsetsBeyondTheFile() {
    PdfBuilder builder("1.4");
    const std::uint64_t xref = builder.offset();
    return builder
        .raw("xref\n0 2\n4294967295 00000 n \n9999999999 00000 n \ntrailer\n"
             "<< /Root 0 0 R /Info 1 0 R >>\nstartxref\n" +
             std::to_string(xref) + "\n%%EOF\n")
        .str();
}

std::string metadataBomb(const std::string &bomb) {
    return PdfBuilder()
        .object(1, "<< /Type /Catalog /Metadata 3 0 R >>")
        .stream(3,
                "<< /Type /Metadata /Subtype /XML /Filter /FlateDecode /Length " +
                    std::to_string(bomb.size()) + " >>",
                bomb)
        .object(4, "<< /Title (Survives) >>")
        .build("/Root 1 0 R /Info 4 0 R");
}

} // namespace

std::vector<HostileFile> hostileFiles() {
    // About 1 MiB that inflates to 1 GiB.
    const std::string bomb = zeroBomb(1024);
    return {
        {"deflate bomb as the metadata stream", metadataBomb(bomb), PDFResult::Ok},
        {"deflate bomb as the object stream of the catalog and /Info",
         objectStreamFile("/N 2 /First 8 /Filter /FlateDecode", bomb), PDFResult::Ok},
        {"200,000 nested dictionaries",
         PdfBuilder()
             .object(1, "<< /Type /Catalog >>")
             .object(2, "<< /Title (Deep) /X " + std::string(200000, '<') + " >>")
             .build("/Root 1 0 R /Info 2 0 R"),
         PDFResult::Ok},
        {"a million comments between two entries",
         PdfBuilder()
             .object(1, "<< /Type /Catalog >>")
             .object(2, "<< /Title (Kept) " + repeated("%\n", 1'000'000) + "/Author (Lost) >>")
             .build("/Root 1 0 R /Info 2 0 R"),
         PDFResult::Ok},
        {"a million nested arrays and dictionaries",
         PdfBuilder()
             .object(1, "<< /Type /Catalog >>")
             .object(2, "<< /Title (Kept) /X " + repeated("[<</A", 1'000'000) + " >>")
             .build("/Root 1 0 R /Info 2 0 R"),
         PDFResult::Ok},
        {"two sections that are each other's /Prev", prevLoop(true), PDFResult::Ok},
        {"a section that is its own /Prev", prevLoop(false), PDFResult::XrefNotFound},
        {"startxref far beyond the file",
         PdfBuilder("1.4").raw("startxref\n99999999999999999999999\n%%EOF\n").str(),
         PDFResult::XrefNotFound},
        {"startxref beyond the file", PdfBuilder("1.4").raw("startxref\n4294967296\n%%EOF\n").str(),
         PDFResult::BadValue},
        {"offsets beyond the file", offsetsBeyondTheFile(), PDFResult::Ok},
        {"huge /N and /First", objectStreamFile("/N 4000000000 /First 4000000000", "1 0 2 5 x"),
         PDFResult::Ok},
        {"object stream inside itself", objectStreamFile("/N 1 /First 4", "5 0 << >>"),
         PDFResult::Ok},
        {"a /Length that names its own object",
         PdfBuilder()
             .object(1, "<< /Type /Catalog /Metadata 3 0 R >>")
             .stream(3, "<< /Type /Metadata /Subtype /XML /Length 3 0 R >>", "abc")
             .build("/Root 1 0 R"),
         PDFResult::Ok},
        {"a million object headers and nothing else",
         PdfBuilder("1.4").raw(repeated("1 0 obj\n", 1'000'000)).str(), PDFResult::XrefNotFound},
        {"a million unclosed dictionaries, no cross-reference data",
         PdfBuilder("1.4").raw(repeated("1 0 obj << /Type /Catalog /Kids [", 1'000'000)).str(),
         PDFResult::Ok},
        {"a million trailers that never close",
         PdfBuilder("1.4").raw(repeated("trailer << /Root 1 0 R /Info <<", 1'000'000)).str(),
         PDFResult::XrefNotFound},
        {"page tree nodes in nested /Kids cycles, without /Count",
         PdfBuilder()
             .object(1, "<< /Type /Catalog /Pages 2 0 R >>")
             .object(2, "<< /Type /Pages /Kids [3 0 R 2 0 R] >>")
             .object(3, "<< /Type /Pages /Kids [4 0 R 2 0 R 3 0 R] >>")
             .object(4, "<< /Type /Pages /Kids [2 0 R 3 0 R 4 0 R 5 0 R] >>")
             .object(5, "<< /Type /Page /Parent 4 0 R >>")
             .build("/Root 1 0 R"),
         PDFResult::Ok},
        {"a million /Kids, without /Count", manyKids(1'000'000), PDFResult::Ok},
        {"references in a cycle",
         PdfBuilder()
             .object(1, "<< /Type /Catalog /Pages 2 0 R >>")
             .object(2, "<< /Count 2 0 R /Kids 2 0 R >>")
             .object(4, "<< /Title 4 0 R /Author 5 0 R >>")
             .object(5, "4 0 R")
             .build("/Root 1 0 R /Info 4 0 R"),
         PDFResult::Ok},
    };
}

} // namespace vellumtag::test
