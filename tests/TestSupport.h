#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <zlib.h>

#include "syntax/MemoryParser.h"

namespace vellumtag::test {

// A parser over a copy of the given bytes; the copy lives as long as the object.
struct ParserOver {
    explicit ParserOver(std::string_view bytes) : data(bytes) {
        parser.attach(reinterpret_cast<const std::uint8_t *>(data.data()), data.size());
    }
    std::size_t cursor() const { return static_cast<std::size_t>(parser._cursor - begin()); }
    const std::uint8_t *begin() const { return parser.getBegin(); }
    const std::uint8_t *at(std::size_t offset) const { return parser.getBegin() + offset; }

    std::string data;
    MemoryParser parser;
};

// Writes a small PDF with a classic cross-reference table whose offsets are computed:
// objects are given by number and body ("<< ... >>", "(text)", or a dictionary plus stream).
class PdfBuilder {
public:
    PdfBuilder &object(std::uint32_t number, const std::string &body) {
        _objects[number] = body;
        return *this;
    }
    PdfBuilder &stream(std::uint32_t number, const std::string &dictionary,
                       const std::string &data) {
        return object(number, dictionary + "\nstream\n" + data + "\nendstream");
    }
    // The whole file, with trailer entries such as "/Root 1 0 R /Info 2 0 R".
    std::string build(const std::string &trailer) const {
        std::string out = "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n";
        std::map<std::uint32_t, std::size_t> offsets;
        for (const auto &[number, body] : _objects) {
            offsets[number] = out.size();
            out += std::to_string(number) + " 0 obj\n" + body + "\nendobj\n";
        }
        const std::size_t xref = out.size();
        out += "xref\n";
        for (const auto &[number, offset] : offsets) {
            char line[32];
            std::snprintf(line, sizeof line, "%u 1\n%010zu 00000 n \n", number, offset);
            out += line;
        }
        out += "trailer\n<< /Size " + std::to_string(_objects.size() + 1) + " " + trailer +
               " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
        return out;
    }

private:
    std::map<std::uint32_t, std::string> _objects;
};

// zlib data that inflate to `mebibytes` MiB of zeros, made in milliseconds whatever the size:
// after a full flush every further MiB of zeros deflates to the same bytes, so they are
// repeated, and the Adler-32 trailer is computed for the whole.
inline std::string zeroBomb(std::size_t mebibytes) {
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
