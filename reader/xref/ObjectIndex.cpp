#include "xref/ObjectIndex.h"

#include <algorithm>
#include <array>

#include "syntax/Limits.h"

namespace vellumtag {

namespace {

const auto byNumber = [](const ObjectIndex::Item &a, const ObjectIndex::Item &b) {
    return a.first < b.first;
};

// Sorts a section's entries by number, keeping only the first listed of equal numbers.
void sortFirstWins(std::vector<ObjectIndex::Item> &items) {
    // Sections list their objects in ascending order as a rule; a stable sort keeps the first
    // of equal numbers first, and unique keeps only it.
    if (!std::is_sorted(items.begin(), items.end(), byNumber))
        std::stable_sort(items.begin(), items.end(), byNumber);
    items.erase(std::unique(items.begin(), items.end(),
                            [](const auto &a, const auto &b) { return a.first == b.first; }),
                items.end());
}

// The entry a cross-reference stream row gives: type 1 in the file, type 2 in an object stream,
// anything else none.
std::optional<XrefEntry> rowEntry(const PDFXrefStreamObject::RowFields &fields) {
    const auto [type, value, position] = fields;
    if (type == 1)
        return XrefEntry{value};
    if (type == 2 && value < XrefEntry::kInFile)
        return XrefEntry{0, static_cast<std::uint32_t>(value),
                         static_cast<std::uint32_t>(std::min<std::uint64_t>(position, UINT32_MAX))};
    return std::nullopt;
}

// How many object numbers a pair of /Index describes: those from its first up to its count,
// where object numbers end at UINT32_MAX - 1.
std::uint64_t pairNumbers(std::uint32_t first, std::uint32_t count) {
    return std::min<std::uint64_t>(count, std::uint64_t{UINT32_MAX} - first);
}

} // namespace

std::optional<XrefEntry> ObjectIndex::find(std::uint32_t number) const {
    for (const Section &section : _sections) {
        if (section.rows != nullptr) {
            if (const auto entry = findInRows(section, number))
                return entry;
            continue;
        }
        const auto it = std::lower_bound(section.items.begin(), section.items.end(),
                                         Item{number, {}}, byNumber);
        if (it != section.items.end() && it->first == number)
            return it->second;
    }
    return std::nullopt;
}

std::optional<XrefEntry> ObjectIndex::findInRows(const Section &section, std::uint32_t number) {
    const PDFXrefStreamObject &rows = *section.rows;
    const std::uint64_t rowCount = rows.rowCount();
    std::uint64_t row = 0;
    // A number listed by several pairs takes the first of its rows that is an entry.
    for (std::size_t pair = 0; pair + 1 < section.index.size() && row < rowCount; pair += 2) {
        const std::uint32_t first = section.index[pair];
        const std::uint64_t numbers = pairNumbers(first, section.index[pair + 1]);
        if (number >= first && number - first < numbers && row + (number - first) < rowCount) {
            PDFXrefStreamObject::RowFields fields;
            rows.getRows(row + (number - first), std::span(&fields, 1));
            if (const auto entry = rowEntry(fields))
                return entry;
        }
        row += numbers;
    }
    return std::nullopt;
}

std::vector<ObjectIndex::Item> ObjectIndex::rowItems(const PDFXrefStreamObject &rows,
                                                     const std::vector<std::uint32_t> &index) {
    const std::uint64_t rowCount = rows.rowCount();
    std::vector<Item> items;
    // Rows are decoded a batch at a time; the walk ends with the data, however large the counts.
    std::array<PDFXrefStreamObject::RowFields, 256> batch;
    std::uint64_t row = 0;
    for (std::size_t pair = 0; pair + 1 < index.size() && row < rowCount; pair += 2) {
        const std::uint64_t numbers = pairNumbers(index[pair], index[pair + 1]);
        for (std::uint64_t i = 0; i < numbers && row < rowCount;) {
            const auto count = static_cast<std::size_t>(
                std::min({numbers - i, rowCount - row, std::uint64_t{batch.size()}}));
            rows.getRows(row, std::span(batch).first(count));
            for (std::size_t k = 0; k < count; ++k) {
                if (const auto entry = rowEntry(batch[k]))
                    items.emplace_back(static_cast<std::uint32_t>(index[pair] + i + k), *entry);
            }
            i += count;
            row += count;
        }
    }
    sortFirstWins(items);
    return items;
}

void ObjectIndex::addSection(std::vector<Item> &section) {
    sortFirstWins(section);
    _sections.push_back(Section{std::move(section), nullptr, {}});
}

void ObjectIndex::addStreamSection(std::unique_ptr<PDFXrefStreamObject> rows,
                                   std::vector<std::uint32_t> index) {
    // A lookup walks the pairs; beyond a few of them the rows are turned into entries once.
    if (index.size() / 2 > limits::kMaxIndexPairsPerLookup) {
        _sections.push_back(Section{rowItems(*rows, index), nullptr, {}});
        return;
    }
    _sections.push_back(Section{{}, std::move(rows), std::move(index)});
}

std::vector<ObjectIndex::Item> ObjectIndex::list() const {
    std::vector<Item> all;
    for (const Section &section : _sections) {
        const std::vector<Item> items =
            section.rows != nullptr ? rowItems(*section.rows, section.index) : section.items;
        all.insert(all.end(), items.begin(), items.end());
    }
    sortFirstWins(all);
    return all;
}

} // namespace vellumtag
