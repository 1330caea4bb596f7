#include "metadata/PDFPageTree.h"

#include <algorithm>
#include <cstdlib>
#include <unordered_set>
#include <vector>

#include "metadata/DocumentFacts.h"
#include "metadata/PDFInfoObject.h"
#include "syntax/IntegerText.h"
#include "syntax/Limits.h"
#include "syntax/MemorySource.h"
#include "syntax/PDFNames.h"
#include "syntax/Tokenizer.h"

namespace vellumtag {

namespace {

std::u16string decimalText(std::uint64_t value) {
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

// The digits of a non-negative integer that the text begins with, after blanks, and that ends
// at white space, a delimiter or the end; a referenced number object's text runs on beyond it.
std::optional<std::u16string> nonNegativeInteger(std::u16string_view text) {
    std::size_t first = 0;
    while (first < text.size() && characters::kBlanks.contains(text[first]))
        ++first;
    std::size_t last = first;
    while (last < text.size() && isDigit(text[last]))
        ++last;
    if (last == first || (last < text.size() && !characters::kPdfWhitespace.contains(text[last]) &&
                          !characters::kDelimiters.contains(text[last])))
        return std::nullopt;
    return std::u16string(text.substr(first, last - first));
}

// A rectangle (ISO 32000-1, 7.9.5) as x1 y1 x2 y2 with x1 <= x2 and y1 <= y2; nothing unless
// the array holds four numbers.
std::optional<std::array<double, 4>> rectangle(const std::optional<PDFValue> &value) {
    if (!value || value->kind != PDFValue::Kind::Array)
        return std::nullopt;
    const std::vector<double> numbers = PDFPageTree::numbers(value->raw);
    if (numbers.size() < 4)
        return std::nullopt;
    return std::array<double, 4>{std::min(numbers[0], numbers[2]), std::min(numbers[1], numbers[3]),
                                 std::max(numbers[0], numbers[2]),
                                 std::max(numbers[1], numbers[3])};
}

} // namespace

std::optional<std::array<double, 2>> PDFPageTree::firstPageSize(ObjectReader &objects,
                                                                PDFDictionary root) {
    constexpr std::string_view kInherited[] = {names::kMediaBox, names::kCropBox, names::kRotate};
    std::optional<PDFValue> inherited[std::size(kInherited)];
    std::unordered_set<std::uint32_t> seen;
    PDFDictionary node = std::move(root);
    for (std::size_t visited = 0;; ++visited) {
        if (visited >= limits::kMaxPageTreeNodes)
            return std::nullopt;
        for (std::size_t k = 0; k < std::size(kInherited); ++k) {
            if (auto value = objects.value(node, kInherited[k]))
                inherited[k] = std::move(value);
        }
        // The first kid leads down; a node without /Kids is the page, as for the count.
        const PDFValue *kids = node.find(names::kKids);
        if (node.getString(names::kType, u"") == names::kPageType || kids == nullptr)
            break;
        const std::optional<PDFValue> array = objects.value(node, names::kKids);
        const std::vector<std::uint32_t> first =
            array ? references(array->text) : std::vector<std::uint32_t>();
        PDFObject kid;
        if (first.empty() || !seen.insert(first.front()).second ||
            objects.readObject(first.front(), kid) != PDFResult::Ok || kid._dictionary.empty())
            return std::nullopt;
        node = std::move(kid._dictionary);
    }
    const auto media = rectangle(inherited[0]);
    if (!media)
        return std::nullopt;
    std::array<double, 4> box = *media;
    // pdfinfo's crop box is clipped to the media box, each edge on its own.
    if (const auto crop = rectangle(inherited[1])) {
        for (std::size_t i = 0; i < 4; ++i)
            box[i] = std::clamp((*crop)[i], (*media)[i % 2], (*media)[i % 2 + 2]);
    }
    std::array<double, 2> size = {box[2] - box[0], box[3] - box[1]};
    if (inherited[2] && inherited[2]->kind == PDFValue::Kind::Number) {
        const long rotate = std::strtol(
            std::string(inherited[2]->text.begin(), inherited[2]->text.end()).c_str(), nullptr, 10);
        const long turned = (rotate % 360 + 360) % 360;
        if (turned == 90 || turned == 270)
            std::swap(size[0], size[1]);
    }
    // As pdfinfo prints it (%g), so that text and number say the same.
    for (double &side : size)
        side = std::strtod(DocumentFacts::pointsText(side).c_str(), nullptr);
    return size;
}

std::vector<double> PDFPageTree::numbers(std::span<const std::uint8_t> array) {
    MemorySource source(array);
    MemoryParser parser(source);
    Tokenizer tokens(parser);
    std::vector<double> out;
    for (Tokenizer::Token token = tokens.next(); token.kind == Tokenizer::Kind::Number;
         token = tokens.next())
        out.push_back(std::strtod(token.text.c_str(), nullptr));
    return out;
}

std::optional<std::u16string> PDFPageTree::count(ObjectReader &objects, std::uint32_t root,
                                                 bool &rootReadable, PDFDictionary *rootEntries) {
    PDFInfoObject node;
    rootReadable = node.read(objects, root) == PDFResult::Ok;
    if (!rootReadable)
        return std::nullopt;
    if (rootEntries != nullptr)
        *rootEntries = node._dictionary;
    return fromRoot(objects, node._values, node._dictionary, root);
}

std::optional<std::u16string> PDFPageTree::count(ObjectReader &objects, const PDFDictionary &root) {
    PDFInfoObject node;
    node._values = root;
    node.resolveReferences(objects);
    return fromRoot(objects, node._values, root, std::nullopt);
}

std::optional<std::u16string> PDFPageTree::fromRoot(ObjectReader &objects,
                                                    const PDFDictionary &values,
                                                    const PDFDictionary &dictionary,
                                                    std::optional<std::uint32_t> number) {
    // Only an integer object counts (ISO 32000-1, 7.7.3.2): a string, a real, or a reference to
    // either, is no count, and the leaves are counted instead.
    const PDFValue *value = values.find(names::kCount);
    if (value != nullptr && value->kind == PDFValue::Kind::Number) {
        if (auto count = nonNegativeInteger(value->text))
            return count;
    }
    const std::optional<std::uint64_t> leaves = countLeaves(objects, dictionary, number);
    if (!leaves)
        return std::nullopt;
    return decimalText(*leaves);
}

std::optional<std::uint64_t> PDFPageTree::countLeaves(ObjectReader &objects,
                                                      const PDFDictionary &root,
                                                      std::optional<std::uint32_t> number) {
    std::unordered_set<std::uint32_t> seen;
    std::vector<std::uint32_t> pending;
    if (number)
        seen.insert(*number);
    std::size_t visited = 0;
    std::uint64_t pages = 0;
    PDFObject node;
    const PDFDictionary *dictionary = &root;
    // Depth first, each node once: a /Kids cycle, or a kid listed twice, is not counted again.
    for (;;) {
        if (++visited > limits::kMaxPageTreeNodes)
            return std::nullopt;
        const std::u16string type = dictionary->getString(names::kType, u"");
        if (type == names::kPageType) {
            ++pages;
        } else if (const PDFValue *kids = dictionary->find(names::kKids)) {
            std::u16string text = kids->text;
            // An array of kids may itself be an indirect object.
            if (kids->isReference) {
                PDFObject array;
                text.clear();
                if (const auto where = dictionary->getReference(names::kKids);
                    where && objects.readObject(*where, array) == PDFResult::Ok)
                    text = array._value.text;
            }
            for (const std::uint32_t kid : references(text)) {
                if (!seen.insert(kid).second)
                    continue;
                if (visited + pending.size() >= limits::kMaxPageTreeNodes)
                    return std::nullopt;
                pending.push_back(kid);
            }
        } else if (type != names::kPagesType && !dictionary->empty()) {
            ++pages;
        }

        // The next node that reads as a dictionary.
        dictionary = nullptr;
        while (dictionary == nullptr && !pending.empty()) {
            const std::uint32_t kid = pending.back();
            pending.pop_back();
            if (objects.readObject(kid, node) == PDFResult::Ok && !node._dictionary.empty())
                dictionary = &node._dictionary;
        }
        if (dictionary == nullptr)
            return pages;
    }
}

std::vector<std::uint32_t> PDFPageTree::references(std::u16string_view text) {
    std::vector<std::uint32_t> numbers;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t pos = at;
        const IntegerText number = IntegerText::read(text, pos);
        if (!number.hasDigits()) {
            ++at;
            continue;
        }
        const std::size_t afterNumber = pos;
        const IntegerText generation = IntegerText::read(text, pos);
        while (pos < text.size() && characters::kPdfWhitespace.contains(text[pos]))
            ++pos;
        if (generation.hasDigits() && !number.negative() && !number.exceeds(UINT32_MAX - 1) &&
            pos < text.size() && text[pos] == u'R') {
            numbers.push_back(static_cast<std::uint32_t>(number.magnitude()));
            at = pos + 1;
        } else {
            at = afterNumber;
        }
    }
    return numbers;
}

} // namespace vellumtag
