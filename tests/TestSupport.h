#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>

#include "MemoryParser.h"

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
