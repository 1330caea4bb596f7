#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "syntax/MemoryParser.h"
#include "syntax/PDFResult.h"
#include "syntax/PDFValue.h"

namespace vellumtag {

// A flat, ordered map from key (a PDF name's bytes without "/", #xx not decoded) to PDFValue.
// Nested dictionaries are folded in under dotted keys ("DecodeParms.Predictor"), arrays keep
// their source text, and references keep their text with the reference flag set. Parsing
// keeps the first value of a duplicate key; only merge and set overwrite. Keys order bytewise
// as unsigned bytes, a prefix before its extensions (std::string's ordering).
class PDFDictionary {
public:
    using Map = std::map<std::string, PDFValue>;
    static constexpr std::uint64_t kAtCursor = UINT64_MAX;

    // Enters every entry of the next dictionary at or after offset (kAtCursor: the parser's
    // cursor) up to its matching ">>"; 199 when no "<<" follows. Existing entries stay.
    PDFResult parse(MemoryParser &parser, std::uint64_t offset = kAtCursor);
    // Parses the one value at the cursor and enters it under key. Always 0.
    PDFResult parseValue(MemoryParser &parser, const std::string &key);

    std::u16string getString(const std::string &key, std::u16string_view fallback) const;
    std::int32_t getInt(const std::string &key, std::int32_t fallback) const;
    // UINT64_MAX when missing; otherwise getInt's value taken as unsigned 32-bit.
    std::uint64_t getUInt(const std::string &key) const;
    void getUIntArray(const std::string &key, std::vector<std::uint32_t> &out) const;
    Bytes getBytes(const std::string &key) const;

    // Copies every entry of other, overwriting the entries already present.
    void merge(const PDFDictionary &other);
    // Enters value unless key is present; true when it was entered.
    bool insert(const std::string &key, PDFValue value) {
        return _entries.try_emplace(key, std::move(value)).second;
    }
    void set(const std::string &key, PDFValue value) { _entries[key] = std::move(value); }
    void erase(const std::string &key) { _entries.erase(key); }
    void clear() { _entries.clear(); }
    const PDFValue *find(const std::string &key) const {
        const auto it = _entries.find(key);
        return it == _entries.end() ? nullptr : &it->second;
    }
    bool contains(const std::string &key) const { return _entries.count(key) != 0; }
    std::size_t size() const { return _entries.size(); }
    bool empty() const { return _entries.empty(); }
    Map::const_iterator begin() const { return _entries.begin(); }
    Map::const_iterator end() const { return _entries.end(); }
    Map::iterator begin() { return _entries.begin(); }
    Map::iterator end() { return _entries.end(); }

    bool operator==(const PDFDictionary &) const = default;

private:
    // depth counts the dictionaries open around the value being read, the one being filled
    // included. A nested dictionary that would lie deeper than limits::kMaxDictionaryDepth is
    // stepped over unparsed and its key gets the empty text. foldBudget is what remains of
    // limits::kMaxFoldedKeyBytes for the whole parse.
    PDFResult parseAt(MemoryParser &parser, int depth, std::size_t &foldBudget);
    PDFResult parseValueAt(MemoryParser &parser, const std::string &key, int depth,
                           std::size_t &foldBudget);
    // Moves nested's entries in under "key.<nested key>", keeping entries already present.
    void fold(const std::string &key, PDFDictionary &nested, std::size_t &foldBudget);

    Map _entries;
};

// Resolves the escapes of a literal string's content (ISO 32000-1, 7.3.4.2) and decodes the
// bytes with bytesToText; trims when asked. Always 0.
PDFResult unescapeLiteral(std::span<const std::uint8_t> bytes, std::u16string &out, bool trim);
// Decodes the content between "<" and ">" of a hexadecimal string. Always 0.
PDFResult decodeHexString(std::span<const std::uint8_t> bytes, std::u16string &out);
// The value of a hexadecimal digit byte, or -1 for any other byte.
int hexValue(std::uint8_t c);
// UTF-16BE after an FE FF mark, otherwise one code unit per byte.
void bytesToText(std::span<const std::uint8_t> bytes, std::u16string &out);
// Removes space, CR, LF and tab from both ends.
void trimText(std::u16string &text);

} // namespace vellumtag
