// A program outside the project that uses the installed library: prints each file's metadata as
// the console tool's blocks do, and fails when a file's bytes read differently from the file.
#include <cstddef>
#include <fstream>
#include <iostream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include <vellumtag/vellumtag.h>

int main(int argc, char **argv) {
    const std::string rule(54, '-');
    for (int i = 1; i < argc; ++i) {
        const vellumtag::ReadResult result = vellumtag::read(argv[i]);
        std::cout << rule << "\nFilename: " << argv[i] << "\n" << rule << "\n";
        if (!result.ok()) {
            std::cout << "Error: " << result.code << ": " << result.message << "\n";
            continue;
        }
        for (const auto &[key, text] : result.values)
            std::cout << key << " => " << text << "\n";
        std::ifstream in(argv[i], std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                      std::istreambuf_iterator<char>()};
        if (vellumtag::read(std::as_bytes(std::span(bytes))).values != result.values) {
            std::cerr << argv[i] << ": its bytes read differently\n";
            return 1;
        }
    }
    return 0;
}
