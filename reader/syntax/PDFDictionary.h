#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "syntax/MemoryParser.h"
#include "syntax/PDFResult.h"
#include "syntax/PDFValue.h"

namespace vellumtag {

class Tokenizer;

// A flat, ordered map from key (a PDF name's bytes without "/", #xx decoded) to PDFValue, read
// with the reader's tokenizer, so that strings, comments and nesting at any depth are seen as
// ISO 32000-1, 7.2 and 7.3 write them. Nested dictionaries are folded in under dotted keys
// ("DecodeParms.Predictor"), arrays keep their source text, names their text, and references
// their text with the reference flag set. Parsing keeps the first value of a duplicate key;
// only merge and set overwrite. Keys order bytewise as unsigned bytes, a prefix before its
// extensions (std::string's ordering).
class PDFDictionary {
public:
    using Map = std::map<std::string, PDFValue, std::less<>>;
    static constexpr std::uint64_t kAtCursor = UINT64_MAX;

    // Enters every entry of the dictionary at offset (kAtCursor: the parser's cursor), after
    // white space and comments, up to its matching ">>"; when another object stands there, of
    // the first dictionary after it. 199 when no "<<" follows. Existing entries stay.
    PDFResult parse(MemoryParser &parser, std::uint64_t offset = kAtCursor);
    // Parses the one value at the cursor and enters it under key. Always 0.
    PDFResult parseValue(MemoryParser &parser, const std::string &key);

    std::u16string getString(std::string_view key, std::u16string_view fallback) const;
    // The text read as wcstol reads base 10 with a 32-bit long; fallback when missing.
    std::int32_t getInt(std::string_view key, std::int32_t fallback) const;
    // UINT64_MAX when missing; otherwise getInt's value taken as unsigned 32-bit.
    std::uint64_t getUInt(std::string_view key) const;
    // The text read as a non-negative integer of up to 64 bits, such as a byte offset or a
    // length; nothing when missing, negative, beyond 64 bits or without digits.
    std::optional<std::uint64_t> getUInt64(std::string_view key) const;
    // The object number of a value written as an indirect reference ("12 0 R"); nothing for
    // any other value or when missing.
    std::optional<std::uint32_t> getReference(std::string_view key) const;
    // True when the value was a dictionary written in place, whose entries are folded in
    // under "key." (an empty one leaves no trace and reads as false).
    bool hasNested(std::string_view key) const;
    // The entries folded in under "key.", with that prefix taken off.
    PDFDictionary nested(std::string_view key) const;
    // The entries of a dictionary value: one written in place, or else the first dictionary
    // of an array, as /DecodeParms holds one for each filter (ISO 32000-1, 7.3.8.2).
    PDFDictionary dictionaryValue(std::string_view key) const;
    // Appends the numbers of the text as stream extraction of unsigned 32-bit values reads
    // them, up to the first that does not read; nothing when the key is missing.
    void getUIntArray(std::string_view key, std::vector<std::uint32_t> &out) const;
    // A string's bytes as stored; for any other value every code unit of the text narrowed
    // to its low byte; empty when missing.
    Bytes getBytes(std::string_view key) const;

    // Copies every entry of other, overwriting the entries already present.
    void merge(const PDFDictionary &other);
    // Enters value unless key is present; true when it was entered.
    bool insert(std::string key, PDFValue value) {
        return _entries.try_emplace(std::move(key), std::move(value)).second;
    }
    void set(std::string key, PDFValue value) { _entries[std::move(key)] = std::move(value); }
    // Puts the entries of a dictionary in place of key's value, as parsing folds one written
    // there: key gets their count, each entry "key.<its key>".
    void setNested(const std::string &key, const PDFDictionary &entries);
    void erase(std::string_view key) {
        if (const auto it = _entries.find(key); it != _entries.end())
            _entries.erase(it);
    }
    void clear() { _entries.clear(); }
    const PDFValue *find(std::string_view key) const {
        const auto it = _entries.find(key);
        return it == _entries.end() ? nullptr : &it->second;
    }
    bool contains(std::string_view key) const { return _entries.find(key) != _entries.end(); }
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
    // False when what stood in place of the value ended the dictionary.
    bool parseValueAt(Tokenizer &tokens, const std::string &key, int depth,
                      std::size_t &foldBudget);
    // Moves nested's entries in under "key.<nested key>", keeping entries already present.
    void fold(const std::string &key, PDFDictionary &nested, std::size_t &foldBudget);

    Map _entries;
};

} // namespace vellumtag
