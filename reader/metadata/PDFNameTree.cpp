#include "metadata/PDFNameTree.h"

#include <unordered_set>
#include <vector>

#include "metadata/PDFPageTree.h"
#include "syntax/Limits.h"
#include "syntax/MemorySource.h"
#include "syntax/PDFNames.h"
#include "syntax/Tokenizer.h"

namespace vellumtag {

std::optional<std::uint64_t> PDFNameTree::count(ObjectReader &objects, const PDFDictionary &root) {
    std::unordered_set<std::uint32_t> seen;
    std::vector<std::uint32_t> pending;
    std::uint64_t leaves = 0;
    std::size_t visited = 0;
    PDFDictionary node = root;
    for (;;) {
        if (++visited > limits::kMaxPageTreeNodes)
            return std::nullopt;
        if (const auto names = objects.value(node, names::kNames);
            names && names->kind == PDFValue::Kind::Array)
            leaves += keysIn(names->raw);
        if (const auto kids = objects.value(node, names::kKids);
            kids && kids->kind == PDFValue::Kind::Array) {
            for (const std::uint32_t kid : PDFPageTree::references(kids->text)) {
                if (visited + pending.size() >= limits::kMaxPageTreeNodes)
                    return std::nullopt;
                if (seen.insert(kid).second)
                    pending.push_back(kid);
            }
        }
        // The next node that reads as a dictionary.
        node.clear();
        while (node.empty() && !pending.empty()) {
            PDFObject object;
            const std::uint32_t kid = pending.back();
            pending.pop_back();
            if (objects.readObject(kid, object) == PDFResult::Ok)
                node = std::move(object._dictionary);
        }
        if (node.empty())
            return leaves;
    }
}

std::uint64_t PDFNameTree::keysIn(std::span<const std::uint8_t> array) {
    MemorySource source(array);
    MemoryParser parser(source);
    Tokenizer tokens(parser);
    std::uint64_t keys = 0;
    // Keys and values alternate; a value is a reference, a dictionary or anything else, whose
    // own strings lie deeper and are stepped over whole.
    for (Tokenizer::Kind kind = tokens.peek(); kind != Tokenizer::Kind::End; kind = tokens.peek()) {
        if (kind == Tokenizer::Kind::LiteralString || kind == Tokenizer::Kind::HexString)
            ++keys;
        if (kind == Tokenizer::Kind::ArrayEnd || kind == Tokenizer::Kind::DictionaryEnd) {
            tokens.next();
            continue;
        }
        tokens.skipObject();
    }
    return keys;
}

} // namespace vellumtag
