#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vellumtag::test {

// The data compressed by zlib, as /FlateDecode reads them.
std::string deflated(std::string_view data);

// A stream object for PdfBuilder::stream: the builder adds /Length and, when it deflates the
// data, /Filter /FlateDecode.
struct PdfStream {
    std::string entries{}; // the other dictionary entries, such as "/Type /Metadata /Subtype /XML"
    std::string data{};
    bool deflate = false;
    std::uint16_t generation = 0;
};

// The layout of a cross-reference stream (ISO 32000-1, 7.5.8).
struct PdfXrefStream {
    std::vector<std::uint32_t> widths{}; // /W; empty: the narrowest that hold every row
    bool predictor = false;              // PNG Up (/Predictor 12) on the rows
    bool deflate = true;
    bool index = false; // /Index even where the default [0 /Size] would do
};

// Encryption by the Standard security handler (ISO 32000-1, 7.6.3; ISO 32000-2, 7.6.4).
struct PdfEncryption {
    enum class Cipher { RC4, AES128, AES256 };
    std::uint32_t objectNumber = 0; // of the /Encrypt dictionary
    // RC4: revision 2 (40-bit keys, /V 1), 3 (40 to 128-bit, /V 2) or 4 (a /V2 crypt filter,
    // /V 4). AES128: revision 4 (/AESV2, /V 4). AES256: revision 5 or 6 (/AESV3, /V 5).
    Cipher cipher = Cipher::RC4;
    int revision = 3;
    unsigned keyBits = 128; // RC4: a multiple of 8; revision 2 always uses 40
    std::string userPassword = "";
    std::string ownerPassword = "owner";
    std::int32_t permissions = -4;
    bool encryptMetadata = true; // false: /EncryptMetadata false, /Type /Metadata streams clear
    std::string id = "\x3c\x9a\x51\x0e\xd2\x47\x86\x1b\x5f\xe0\x29\xc4\x73\xab\x08\x66";
    // Ways writers differ (revisions 4 to 6): the crypt filter's name; /CF given by reference
    // to this object (0: in place); /StrF /Identity, strings left clear; only embedded files
    // encrypted (/StmF and /StrF /Identity, /EFF, /AuthEvent /EFOpen), so that nothing written
    // is; /UE empty (revision 5 and 6), which only the owner password then opens.
    std::string filterName = "StdCF";
    std::uint32_t filtersObject = 0;
    bool clearStrings = false;
    bool embeddedFilesOnly = false;
    bool emptyUserKey = false;
    bool literalId = false; // /ID as literal strings, every byte an octal escape
};

// Writes a PDF front to back, every offset and /Length computed: the header at construction,
// then objects, streams, object streams and raw bytes in the order they are given, each
// cross-reference section (a classic table or a stream) listing what was written since the
// previous one and pointing back to it with /Prev, so that later sections are incremental
// updates (ISO 32000-1, 7.5.6). The first section also lists the free object 0; entries come
// in subsections of consecutive numbers; /Size is one more than the highest number so far.
// After encrypt(), every literal or hexadecimal string of what follows is encrypted and
// written in hexadecimal (in an object() body, up to a "stream" keyword), and so is stream
// data. Runs of zero bytes (holes) cost no memory, and no disk space in write().
class PdfBuilder {
public:
    explicit PdfBuilder(std::string_view version = "1.7");
    // A builder that has written nothing, not even the header.
    static PdfBuilder withoutHeader();

    // "N G obj", the body, "endobj".
    PdfBuilder &object(std::uint32_t number, std::string_view body);
    PdfBuilder &object(std::uint32_t number, std::uint16_t generation, std::string_view body);
    // The dictionary, written as given (with its own /Length), then the data as stream.
    PdfBuilder &stream(std::uint32_t number, const std::string &dictionary,
                       const std::string &data);
    PdfBuilder &stream(std::uint32_t number, const PdfStream &stream);
    // A stream of `length` zero bytes, never encrypted.
    PdfBuilder &holeStream(std::uint32_t number, std::string_view entries, std::uint64_t length);
    // An object stream (ISO 32000-1, 7.5.7) holding the objects, given by number and body; a
    // cross-reference stream lists them with type 2 rows.
    PdfBuilder &objectStream(std::uint32_t number,
                             const std::vector<std::pair<std::uint32_t, std::string>> &objects,
                             bool deflate = true);
    // Writes the /Encrypt dictionary and encrypts what is written after it; the trailers of
    // the later sections get /Encrypt and /ID, which the caller's entries must not repeat.
    PdfBuilder &encrypt(const PdfEncryption &encryption);

    // Lists object `member` in the next section as the index-th object of object stream
    // `stream`, which the caller writes as it likes (with stream()), for object streams whose
    // content is an edge case of its own.
    PdfBuilder &inObjectStream(std::uint32_t member, std::uint32_t stream, std::uint32_t index);

    // Bytes written as they are, never encrypted.
    PdfBuilder &raw(std::string_view bytes);
    // The same, listed in the next section as object `number` at the current offset.
    PdfBuilder &rawObject(std::uint32_t number, std::string_view bytes);
    PdfBuilder &hole(std::uint64_t length);
    std::uint64_t offset() const { return _size; }

    // A classic cross-reference section (ISO 32000-1, 7.5.4) with the trailer entries, such as
    // "/Root 1 0 R /Info 2 0 R", plus /Size and /Prev, startxref and %%EOF.
    PdfBuilder &xrefTable(std::string_view trailerEntries);
    // A cross-reference stream, object `number`, in place of the table.
    PdfBuilder &xrefStream(std::uint32_t number, std::string_view trailerEntries,
                           const PdfXrefStream &layout = {});
    // The offset of the last section written, as its startxref gives it.
    std::uint64_t lastSectionOffset() const { return _lastSection; }

    // xrefTable(trailer), then the whole file.
    std::string build(const std::string &trailer);
    // The file; holes as zero bytes.
    std::string str() const;
    // The file, holes left unwritten; false on any error.
    bool write(const std::filesystem::path &path) const;

private:
    struct Chunk {
        std::string text;
        std::uint64_t zeros = 0; // after the text
    };
    // A cross-reference row: type 1 (offset, generation) or type 2 (object stream, index).
    struct Row {
        std::uint8_t type;
        std::uint64_t field2;
        std::uint32_t field3;
    };
    struct Security {
        std::string fileKey;
        bool encryptMetadata;
        std::string trailerEntries;
        PdfEncryption::Cipher cipher;
        bool strings = true;
        bool streams = true;
    };

    PdfBuilder &append(std::string_view bytes);
    void list(std::uint32_t number, Row row);
    // "N G obj", the body as it is, "endobj".
    PdfBuilder &put(std::uint32_t number, std::uint16_t generation, std::string_view body);
    // The body of a stream object, encrypted where it has to be.
    std::string streamBody(std::uint32_t number, std::uint16_t generation,
                           std::string_view dictionary, std::string data) const;
    std::string objectKey(std::uint32_t number, std::uint16_t generation) const;
    // The bytes encrypted with an object's key: RC4, or AES-CBC with its initialisation vector
    // in front and PKCS #7 padding.
    std::string encrypted(std::string bytes, const std::string &key) const;
    // "<< /Size ..." with the entries, /Prev and the security entries between the parts.
    std::string trailer(std::string_view before, std::string_view entries,
                        std::string_view after) const;
    void endSection(std::uint64_t offset);

    std::vector<Chunk> _chunks{1};
    std::uint64_t _size = 0;
    std::uint32_t _highest = 0;
    std::map<std::uint32_t, Row> _pending;
    std::uint64_t _lastSection = 0;
    bool _firstSection = true;
    std::optional<Security> _security;
};

} // namespace vellumtag::test
