#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>

namespace vellumtag::test {

// A random document whose catalog, page tree root and information dictionary carry junk
// entries of every kind the object grammar has (ISO 32000-1, 7.2 and 7.3): dictionaries and
// arrays nested a few levels deep, literal strings of arbitrary bytes with every escape,
// hexadecimal strings with white space inside, names with #xx, numbers in every form, booleans,
// null and references, with comments and every white-space character between the tokens. The
// same generator state gives the same document. Entries of the information dictionary keep to
// what the flat view prints unambiguously: keys hold no full stop and are unique per
// dictionary, null stands only inside arrays, and references only outside it.
struct GrammarDocument {
    std::string bytes;
    std::size_t objects = 0; // the junk objects written, nested ones included
    std::uint32_t pages = 0;
};

GrammarDocument grammarDocument(std::mt19937 &random);

} // namespace vellumtag::test
