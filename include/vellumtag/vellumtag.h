#pragma once

// Vellumtag's library interface: the metadata of a PDF file, as the console tool reads it.
// Needs C++20. Link with the Vellumtag::reader target of find_package(Vellumtag), or with what
// pkg-config --cflags --libs vellumtag gives.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#if defined(VELLUMTAG_BUILDING_LIBRARY)
#define VELLUMTAG_API __attribute__((visibility("default")))
#else
#define VELLUMTAG_API
#endif

namespace vellumtag {

// What to read beside the metadata: the document's facts, and every property of its XMP packet.
struct ReadOptions {
    bool details = false;
    bool xmp = false;
};

// The facts of a document, as the console tool's --details and its JSON "document" give them;
// each is missing where the file does not let it be had.
struct DocumentDetails {
    struct Encryption {
        std::string algorithm; // "RC4 40-bit", "RC4 128-bit", "AES-128" or "AES-256"
        int revision = 0;      // the security handler's /R
        int keyBits = 0;
    };
    std::optional<std::string> version; // "1.7"
    bool encrypted = false;
    std::optional<Encryption> encryption; // when encrypted and the algorithm is known
    std::optional<bool> linearized;
    std::optional<bool> tagged;
    std::optional<std::string> language;
    std::optional<std::array<double, 2>> pageSize; // width and height in points
    std::optional<std::string> form;               // "AcroForm", "XFA" or "none"
    std::optional<std::uint64_t> attachments;
    std::vector<std::string> conformance; // "PDF/A-2b", "PDF/UA-1"...
    std::optional<std::string> created;   // ISO 8601
    std::optional<std::string> modified;  // ISO 8601
    std::optional<std::int64_t> pageCount;
    // The same as text, keys and order as the console tool prints them ("PDF:Version").
    std::vector<std::pair<std::string, std::string>> entries;
};

// What reading one PDF file gave: code 0 and the values, or the reader's result code (100 to
// 199, as the console tool prints them) and no values. All text is valid UTF-8: a value's
// unpaired UTF-16 surrogate reads as U+FFFD, as does a key's byte that is not UTF-8. Running out
// of memory is code 199 with the message "Out of memory".
struct ReadResult {
    int code = 0;
    std::string message;                       // the code's message, "OK" for 0
    std::map<std::string, std::string> values; // key to text, keys in byte order
    std::optional<DocumentDetails> document;   // with ReadOptions::details, when read
    // With ReadOptions::xmp: the packet's properties ("XMP-dc:Rights"), in the packet's order.
    std::vector<std::pair<std::string, std::string>> xmp;

    bool ok() const noexcept { return code == 0; }
};

// Reads the file at path. The file is only read, never locked, and closed again on return.
VELLUMTAG_API ReadResult read(const std::filesystem::path &path) noexcept;
VELLUMTAG_API ReadResult read(const std::filesystem::path &path,
                              const ReadOptions &options) noexcept;
// Reads a PDF file's bytes, which must stay unchanged during the call.
VELLUMTAG_API ReadResult read(std::span<const std::byte> bytes) noexcept;
VELLUMTAG_API ReadResult read(std::span<const std::byte> bytes,
                              const ReadOptions &options) noexcept;

} // namespace vellumtag
