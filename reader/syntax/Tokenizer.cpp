#include "syntax/Tokenizer.h"

#include "syntax/IntegerText.h"

namespace vellumtag {

namespace {

// The bytes that end a run of regular characters: white space and delimiters (7.2.2).
constexpr CharacterClass kRegularEnd(std::string_view("\0\t\n\f\r ()<>[]{}/%", 16));

bool isSign(char c) { return c == '+' || c == '-'; }

} // namespace

bool Tokenizer::skipBlanks() {
    const std::uint64_t start = _parser.offset();
    // Most tokens follow one another directly or after a blank or two.
    int c = _parser.peek();
    for (int passed = 0; passed < 4 && c >= 0 && c != '%' &&
                         characters::kPdfWhitespace.contains(static_cast<std::uint8_t>(c));
         ++passed) {
        _parser.advance();
        c = _parser.peek();
    }
    if (c >= 0 && c != '%' && !characters::kPdfWhitespace.contains(static_cast<std::uint8_t>(c)))
        return true;
    for (;;) {
        _parser.skipWhile(characters::kPdfWhitespace);
        if (_parser.peek() != '%')
            break;
        _parser.skipUntil(characters::kLineEnds);
    }
    return _parser.offset() - start <= _blankLimit && !_parser.atEnd();
}

bool Tokenizer::skipBlanksWithin(std::uint64_t most) {
    const std::uint64_t here = _parser.offset();
    const std::uint64_t end = _parser.setEnd(here + std::min(most, _parser.size() - here));
    const std::uint64_t bound = _parser.size();
    // A comment that the bound cuts hides what follows the bound too.
    bool cut = false;
    for (;;) {
        _parser.skipWhile(characters::kPdfWhitespace);
        if (_parser.peek() != '%')
            break;
        _parser.skipUntil(characters::kLineEnds);
        if (_parser.offset() >= bound) {
            cut = true;
            break;
        }
    }
    _parser.setEnd(end);
    return !cut && !_parser.atEnd();
}

void Tokenizer::readRegular(std::string &text) { _parser.readUntil(kRegularEnd, text); }

Tokenizer::Kind Tokenizer::peek() {
    if (!skipBlanks())
        return Kind::End;
    switch (_parser.peek()) {
    case -1:
        return Kind::End;
    case '/':
        return Kind::Name;
    case '(':
        return Kind::LiteralString;
    case '<':
        return _parser.peek(1) == '<' ? Kind::DictionaryStart : Kind::HexString;
    case '>':
        return _parser.peek(1) == '>' ? Kind::DictionaryEnd : Kind::Stray;
    case '[':
        return Kind::ArrayStart;
    case ']':
        return Kind::ArrayEnd;
    case ')':
    case '{':
    case '}':
        return Kind::Stray;
    default: {
        // A run of regular characters: a number or a keyword, which only its text tells. The
        // run is kept, so that next() does not read it again.
        const std::uint64_t start = _parser.offset();
        if (start != _runStart || _parser.size() != _runBound) {
            _run.clear();
            readRegular(_run);
            _runStart = start;
            _runBound = _parser.size();
            _runEnd = _parser.offset();
            _parser.seek(start);
        }
        return isNumber(_run) ? Kind::Number : Kind::Keyword;
    }
    }
}

Tokenizer::Token Tokenizer::next() {
    Token token;
    token.kind = peek();
    token.start = _parser.offset();
    switch (token.kind) {
    case Kind::End:
        break;
    case Kind::Name:
        _parser.advance();
        readRegular(token.text);
        if (token.text.find('#') != std::string::npos)
            token.text = decodeName(token.text);
        break;
    case Kind::LiteralString: {
        Bytes bytes;
        _parser.readLiteralString(bytes);
        // Without its parentheses; a string cut by the end of the data lacks the closing one.
        const std::size_t close = bytes.size() >= 2 && bytes.back() == ')' ? 1 : 0;
        token.text.assign(bytes.begin() + 1, bytes.end() - static_cast<std::ptrdiff_t>(close));
        break;
    }
    case Kind::HexString: {
        static constexpr CharacterClass kHexEnd(">");
        _parser.advance();
        _parser.readUntil(kHexEnd, token.text);
        _parser.advance();
        break;
    }
    case Kind::DictionaryStart:
    case Kind::DictionaryEnd:
        token.text.assign(2, static_cast<char>(_parser.peek()));
        _parser.advance(2);
        break;
    case Kind::ArrayStart:
    case Kind::ArrayEnd:
    case Kind::Stray:
        token.text.assign(1, static_cast<char>(_parser.peek()));
        _parser.advance();
        break;
    case Kind::Number:
    case Kind::Keyword:
        // peek() has just read the run.
        token.text = std::move(_run);
        _runStart = UINT64_MAX;
        _parser.seek(_runEnd);
        break;
    }
    return token;
}

void Tokenizer::skipObject() {
    Bytes scratch;
    switch (peek()) {
    case Kind::End:
        return;
    case Kind::ArrayStart:
        _parser.readArray(scratch);
        return;
    case Kind::DictionaryStart:
        _parser.skipDictionary();
        return;
    default:
        next();
        return;
    }
}

bool Tokenizer::readUnsigned(std::uint64_t &value) {
    // Object stream headers are long runs of these: read in place, without a token's text.
    const std::uint64_t start = _parser.offset();
    if (skipBlanks()) {
        if (_parser.peek() == '+')
            _parser.advance();
        std::uint64_t read = 0;
        const int first = _parser.peek();
        if (first >= '0' && first <= '9' && _parser.readUnsigned(read)) {
            const int after = _parser.peek();
            if (after < 0 || kRegularEnd.contains(static_cast<std::uint8_t>(after))) {
                value = read;
                return true;
            }
        }
    }
    _parser.seek(start);
    return false;
}

bool Tokenizer::readKeyword(std::string_view keyword) {
    const std::uint64_t start = _parser.offset();
    if (peek() == Kind::Keyword && _run == keyword) {
        next();
        return true;
    }
    _parser.seek(start);
    return false;
}

bool Tokenizer::readObjectHeader(std::uint32_t &number, std::uint32_t &generation) {
    const std::uint64_t start = _parser.offset();
    std::uint32_t values[2] = {};
    for (std::uint32_t &value : values) {
        if (peek() != Kind::Number) {
            _parser.seek(start);
            return false;
        }
        const Token token = next();
        std::size_t pos = 0;
        const IntegerText read = IntegerText::read(token.text, pos);
        if (!isInteger(token.text)) {
            _parser.seek(start);
            return false;
        }
        value = static_cast<std::uint32_t>(read.toUnsigned(UINT32_MAX));
    }
    // "obj" may run on into what follows it ("1 0 objx"), as object headers were always read.
    skipBlanks();
    if (_parser.peek() != 'o' || _parser.peek(1) != 'b' || _parser.peek(2) != 'j') {
        _parser.seek(start);
        return false;
    }
    _parser.advance(3);
    number = values[0];
    generation = values[1];
    return true;
}

bool Tokenizer::referenceFollows(std::string &generation) {
    const std::uint64_t start = _parser.offset();
    if (peek() == Kind::Number) {
        Token token = next();
        if (isInteger(token.text) && readKeyword("R")) {
            generation = std::move(token.text);
            return true;
        }
    }
    _parser.seek(start);
    return false;
}

bool Tokenizer::isInteger(std::string_view text) {
    std::size_t i = !text.empty() && isSign(text[0]) ? 1 : 0;
    if (i == text.size())
        return false;
    for (; i < text.size(); ++i) {
        if (!isDigit(text[i]))
            return false;
    }
    return true;
}

bool Tokenizer::isNumber(std::string_view text) {
    std::size_t i = !text.empty() && isSign(text[0]) ? 1 : 0;
    bool digits = false, point = false;
    for (; i < text.size(); ++i) {
        if (isDigit(text[i]))
            digits = true;
        else if (text[i] == '.' && !point)
            point = true;
        else
            return false;
    }
    return digits;
}

std::string Tokenizer::decodeName(std::string_view written) {
    if (written.find('#') == std::string_view::npos)
        return std::string(written);
    std::string name;
    name.reserve(written.size());
    for (std::size_t i = 0; i < written.size(); ++i) {
        if (written[i] == '#' && i + 2 < written.size() && hexValue(written[i + 1]) >= 0 &&
            hexValue(written[i + 2]) >= 0) {
            name.push_back(
                static_cast<char>(hexValue(written[i + 1]) << 4 | hexValue(written[i + 2])));
            i += 2;
        } else {
            name.push_back(written[i]);
        }
    }
    return name;
}

} // namespace vellumtag
