#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <zlib.h>

#include "objects/ObjectReader.h"
#include "objects/PlainStreamReader.h"
#include "objects/StreamBudget.h"
#include "support/HostileFiles.h"
#include "support/PdfBuilder.h"
#include "syntax/ByteSource.h"
#include "syntax/MemoryParser.h"
#include "syntax/MemorySource.h"
#include "xref/PDFXrefTable.h"

namespace vellumtag::test {

// Bytes of a string read the way a file read in chunks is: not in memory, `chunk` bytes at a
// time, each read into a fresh buffer while the one before is freed, so that a scanner holding
// on to an old window reads freed memory (which the sanitizer build reports).
class PiecewiseSource final : public ByteSource {
public:
    PiecewiseSource(std::string_view bytes, std::size_t chunk) : _bytes(bytes), _chunk(chunk) {}

    std::uint64_t size() const override { return _bytes.size(); }
    std::span<const std::uint8_t> read(std::uint64_t offset, std::size_t length) override {
        if (offset >= _bytes.size())
            return {};
        const std::string_view piece =
            std::string_view(_bytes).substr(static_cast<std::size_t>(offset), length);
        _buffer = std::make_unique<std::uint8_t[]>(piece.size() + 1);
        std::memcpy(_buffer.get(), piece.data(), piece.size());
        ++_reads;
        return {_buffer.get(), piece.size()};
    }
    bool inMemory() const override { return false; }
    bool failed() const override { return false; }
    std::size_t chunkSize() const override { return _chunk; }
    std::size_t reads() const { return _reads; }

private:
    std::string _bytes;
    std::size_t _chunk;
    std::unique_ptr<std::uint8_t[]> _buffer;
    std::size_t _reads = 0;
};

// A parser over a copy of the given bytes, held in memory or, with a chunk size, read piecewise
// through windows of that size; the copy lives as long as the object.
struct ParserOver {
    explicit ParserOver(std::string_view bytes, std::size_t chunk = 0)
        : data(bytes),
          memory(std::span(reinterpret_cast<const std::uint8_t *>(data.data()), data.size())),
          pieces(bytes, chunk == 0 ? 1 : chunk) {
        if (chunk == 0)
            parser.attach(memory);
        else
            parser.attach(pieces);
    }
    ParserOver(const ParserOver &) = delete;
    ParserOver &operator=(const ParserOver &) = delete;
    std::size_t cursor() const { return static_cast<std::size_t>(parser.offset()); }

    std::string data;
    MemorySource memory;
    PiecewiseSource pieces;
    MemoryParser parser;
};

// Chunk sizes that every scanner test runs with: the data in memory, then windows of one byte,
// two bytes and a few, which split every token somewhere.
inline constexpr std::size_t kChunkSizes[] = {0, 1, 2, 3, 7};

// What reading the objects of a document needs, over a copy of its bytes: the scanner, the
// cross-reference reader and an object reader without decryption.
struct Reading {
    explicit Reading(std::string_view bytes, std::size_t chunk = 0) : over(bytes, chunk) {}
    Reading(const Reading &) = delete;
    Reading &operator=(const Reading &) = delete;

    ParserOver over;
    StreamBudget budget;
    PlainStreamReader streams{budget};
    PDFXrefTable xref{over.parser, streams};
    ObjectReader objects{{over.parser, &xref, nullptr, &budget}};
};

// A fresh directory under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::random_device random;
        _path = std::filesystem::temp_directory_path() /
                ("vellumtag-test-" + std::to_string(random()) + std::to_string(random()));
        std::filesystem::create_directories(_path);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::permissions(_path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(_path, ignored);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::filesystem::path &path() const { return _path; }

    std::filesystem::path write(const std::string &name, std::string_view bytes) const {
        const auto file = _path / name;
        std::ofstream(file, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return file;
    }

private:
    std::filesystem::path _path;
};

} // namespace vellumtag::test
