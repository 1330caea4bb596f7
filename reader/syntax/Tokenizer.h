#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "syntax/Limits.h"
#include "syntax/MemoryParser.h"

namespace vellumtag {

// The lexical level of PDF (ISO 32000-1, 7.2 and 7.3) over a MemoryParser: the reader's one
// tokenizer, which everything that reads structure goes through. White space is the six
// characters of 7.2.2 (NUL and form feed included), and a comment (7.2.4), from "%" to the end
// of its line, counts as white space wherever white space may stand. A token is a number, a
// literal or hexadecimal string, a name, one of "[", "]", "<<", ">>", or a keyword (a run of
// regular characters that is no number: true, false, null, R, obj, stream and the like); a
// delimiter that starts none of them (")", "{", "}", a lone ">") is a stray token of its own.
// The cursor of the parser is the tokenizer's: callers may mix its primitives with tokens.
class Tokenizer {
public:
    enum class Kind : std::uint8_t {
        End, // the end of the data, or a run of white space and comments over the limit
        Number,
        LiteralString,
        HexString,
        Name,
        ArrayStart,
        ArrayEnd,
        DictionaryStart,
        DictionaryEnd,
        Keyword,
        Stray,
    };

    struct Token {
        Kind kind = Kind::End;
        // Number and Keyword: as written. Name: the name's bytes with #xx decoded (7.3.5),
        // without "/". LiteralString and HexString: the bytes between the delimiters as
        // written (see unescapeLiteral and decodeHexString). Stray: its byte.
        std::string text;
        // Offset of the token's first byte.
        std::uint64_t start = 0;
    };

    // blankLimit: the white space and comments that one step between two tokens may pass; a
    // longer run ends the tokens as if the data ended there.
    explicit Tokenizer(MemoryParser &parser,
                       std::uint64_t blankLimit = limits::kMaxBlanksBetweenTokens)
        : _parser(parser), _blankLimit(blankLimit) {}

    MemoryParser &parser() { return _parser; }

    // Steps over white space and comments. False when the run was longer than the limit, or
    // the data end: no token follows.
    bool skipBlanks();
    // The same over at most `most` bytes: the cursor then stops there, and the caller finds
    // whatever stands there, or not. False also when a comment runs on beyond. For places
    // where a keyword or an object should follow at once, so that a file of white space is not
    // walked to its end.
    bool skipBlanksWithin(std::uint64_t most);

    // Reads the next token, white space and comments before it skipped.
    Token next();
    // The kind of the next token, with the cursor on its first byte (blanks passed).
    Kind peek();

    // Steps over the next object, whole: an array or a dictionary with everything nested in
    // it, a string, or a single token. Never builds anything.
    void skipObject();

    // The next token when it is an unsigned integer (an optional "+", digits); the cursor
    // stays where it was otherwise.
    bool readUnsigned(std::uint64_t &value);
    // True, and steps over it, when the next token is this keyword.
    bool readKeyword(std::string_view keyword);
    // An object header, "N G obj" (7.3.10), with white space or comments between its tokens;
    // the cursor stays where it was when there is none. Numbers are read as strtoul reads them
    // (a sign, saturation at 32 bits), as object headers always were.
    bool readObjectHeader(std::uint32_t &number, std::uint32_t &generation);

    // After an integer whose text was read: " G R" follows, which makes it a reference (7.3.10).
    // The cursor moves past the "R" when it does and stays otherwise.
    bool referenceFollows(std::string &generation);

    // The classification of a run of regular characters (7.3.3).
    static bool isInteger(std::string_view text);
    static bool isNumber(std::string_view text);
    // Decodes #xx in a name's bytes (7.3.5): a "#" not followed by two hexadecimal digits stays.
    static std::string decodeName(std::string_view written);

private:
    // Reads a run of regular characters into text.
    void readRegular(std::string &text);

    MemoryParser &_parser;
    std::uint64_t _blankLimit;
    // The run of regular characters that peek() read last, from _runStart to _runEnd, while
    // the data ended at _runBound (a caller may bound the parser).
    std::string _run;
    std::uint64_t _runStart = UINT64_MAX;
    std::uint64_t _runEnd = 0;
    std::uint64_t _runBound = 0;
};

} // namespace vellumtag
