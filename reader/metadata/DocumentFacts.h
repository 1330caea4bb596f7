#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "syntax/PDFDictionary.h"

namespace vellumtag {

class PDFEncryptionDictionary;

// What a file is, beside what its metadata say: the facts that indexers filter on. Each is
// missing when the file does not let it be had; nothing is guessed.
struct DocumentFacts {
    // The /Encrypt dictionary a load used: the algorithm as people name it ("RC4 128-bit",
    // "AES-256"), its revision (/R) and the bits of its file key.
    struct Encryption {
        std::string algorithm;
        int revision = 0;
        int keyBits = 0;
    };

    std::optional<std::string> version;     // "1.7": the header's, or the catalog's later one
    bool encrypted = false;                 // the load used an /Encrypt
    std::optional<Encryption> encryption;   // when encrypted, and the algorithm is known
    std::optional<bool> linearized;         // a linearization dictionary that fits the file
    std::optional<bool> tagged;             // /MarkInfo /Marked true
    std::optional<std::u16string> language; // the catalog's /Lang
    std::optional<std::array<double, 2>> pageSize; // width, height in points, as pdfinfo rounds
    std::optional<std::string> form;               // "AcroForm", "XFA" or "none"
    std::optional<std::uint64_t> attachments;      // leaves of the /EmbeddedFiles name tree
    std::vector<std::string> conformance;          // "PDF/A-2b", "PDF/UA-1", "PDF/X-4"

    using Entries = std::vector<std::pair<std::string, std::u16string>>;

    // The facts as text under their "PDF:" keys, in the order of keys(), with the dates of
    // the metadata values (CreationDate, ModDate) in ISO 8601; those missing are left out.
    Entries entries(const PDFDictionary &values) const;
    // Every key entries() may give, in its order.
    static const std::vector<std::string_view> &keys();

    // The algorithm of a security handler that is set up; nothing when neither its streams
    // nor its strings are encrypted (identity crypt filters).
    static std::optional<Encryption> describe(const PDFEncryptionDictionary &security);
    // The conformance claims of XMP properties as XmpPacket::readAll keys them.
    static std::vector<std::string>
    conformanceOf(const std::vector<std::pair<std::string, std::u16string>> &xmp);
    // A number of points as pdfinfo prints it (printf's %g: six significant digits).
    static std::string pointsText(double points);
    // A date of the metadata in ISO 8601; nothing when it is not a PDF or XMP date.
    static std::optional<std::string> isoDate(std::u16string_view text);
};

} // namespace vellumtag
