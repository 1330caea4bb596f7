#pragma once

// Vellumtag's library interface: the metadata of a PDF file, as the console tool reads it.
// Needs C++20. Link with the Vellumtag::reader target of find_package(Vellumtag), or with what
// pkg-config --cflags --libs vellumtag gives.

#include <cstddef>
#include <filesystem>
#include <map>
#include <span>
#include <string>

#if defined(VELLUMTAG_BUILDING_LIBRARY)
#define VELLUMTAG_API __attribute__((visibility("default")))
#else
#define VELLUMTAG_API
#endif

namespace vellumtag {

// What reading one PDF file gave: code 0 and the values, or the reader's result code (100 to
// 199, as the console tool prints them) and no values. All text is valid UTF-8: a value's
// unpaired UTF-16 surrogate reads as U+FFFD, as does a key's byte that is not UTF-8. Running out
// of memory is code 199 with the message "Out of memory".
struct ReadResult {
    int code = 0;
    std::string message;                       // the code's message, "OK" for 0
    std::map<std::string, std::string> values; // key to text, keys in byte order

    bool ok() const noexcept { return code == 0; }
};

// Reads the file at path. The file is only read, never locked, and closed again on return.
VELLUMTAG_API ReadResult read(const std::filesystem::path &path) noexcept;
// Reads a PDF file's bytes, which must stay unchanged during the call.
VELLUMTAG_API ReadResult read(std::span<const std::byte> bytes) noexcept;

} // namespace vellumtag
