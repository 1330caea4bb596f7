// Writes random documents of junk entries (support/GrammarDocuments.h) for the grammar test and
// the fuzz seeds:
//
//   write_grammar_documents DIR COUNT SEED
//
// DIR/doc-0000.pdf and on; prints the number of junk objects written in all.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "support/GrammarDocuments.h"

int main(int argc, char **argv) {
    if (argc != 4) {
        std::fputs("usage: write_grammar_documents DIR COUNT SEED\n", stderr);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    const unsigned long count = std::strtoul(argv[2], nullptr, 10);
    std::mt19937 random(static_cast<std::mt19937::result_type>(std::strtoul(argv[3], nullptr, 10)));
    std::size_t objects = 0;
    for (unsigned long i = 0; i < count; ++i) {
        const vellumtag::test::GrammarDocument document = vellumtag::test::grammarDocument(random);
        char name[32];
        std::snprintf(name, sizeof name, "doc-%04lu.pdf", i);
        std::ofstream(dir / name, std::ios::binary) << document.bytes;
        objects += document.objects;
    }
    std::printf("%zu\n", objects);
    return 0;
}
