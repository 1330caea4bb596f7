#include "support/GrammarDocuments.h"

#include <set>
#include <string_view>

#include "support/PdfBuilder.h"

namespace vellumtag::test {

namespace {

// The writer of one document's junk; it counts the objects it writes.
class Junk {
public:
    explicit Junk(std::mt19937 &random) : _random(random) {}

    std::size_t objects() const { return _objects; }

    int below(int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(_random); }
    bool chance(int percent) { return below(100) < percent; }

    // White space between two tokens: one to three pieces, each a white-space character of
    // 7.2.2, an end of line, or a comment (7.2.4).
    std::string blank() {
        static constexpr std::string_view kPieces[] = {" ", "\n", "\r\n", "\r", "\t", "\f"};
        std::string out;
        for (int n = 1 + below(3); n > 0; --n) {
            const int kind = below(10);
            if (kind < 7) {
                out += kPieces[static_cast<std::size_t>(below(6))];
            } else if (kind < 8) {
                out += '\0';
            } else {
                out += '%';
                for (int length = below(12); length > 0; --length) {
                    const char byte = static_cast<char>(below(256));
                    if (byte != '\r' && byte != '\n')
                        out += byte;
                }
                out += chance(50) ? "\n" : "\r\n";
            }
        }
        return out;
    }

    // A name's bytes as written: regular characters and #xx escapes of delimiters, blanks
    // and UTF-8 sequences (7.3.5); never a full stop, which the flat view keeps for nesting,
    // nor "#" itself, which qpdf's rewrites write back unescaped.
    std::string name(const char *prefix = "") {
        static constexpr std::string_view kRegular =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-*";
        static constexpr std::string_view kEscaped[] = {"#20", "#28", "#29", "#2F",
                                                        "#25", "#5B", "#3C", "#C3#A9"};
        std::string out = prefix;
        for (int length = 1 + below(8); length > 0; --length) {
            if (chance(15))
                out += kEscaped[static_cast<std::size_t>(below(8))];
            else
                out += kRegular[static_cast<std::size_t>(below(int(kRegular.size())))];
        }
        return out;
    }

    // A literal string (7.3.4.2): arbitrary bytes, parentheses balanced or escaped, every
    // escape, octal ones of one to three digits, a backslash before an end of line, and now and
    // then a UTF-16BE text.
    std::string literal() {
        static constexpr std::string_view kEscapes[] = {
            "\\n", "\\r", "\\t", "\\b", "\\f", "\\(", "\\)", "\\\\", "\\\n", "\\\r\n", "\\q"};
        std::string out = "(";
        if (chance(15))
            out += "\\376\\377";
        int open = 0;
        for (int length = below(16); length > 0; --length) {
            const int kind = below(10);
            if (kind < 5) {
                const char byte = static_cast<char>(below(256));
                if (byte == '\\')
                    out += "\\\\";
                else if (byte == '(' || byte == ')')
                    out.append(1, '\\').append(1, byte);
                else
                    out += byte;
            } else if (kind < 7) {
                out += kEscapes[static_cast<std::size_t>(below(11))];
            } else if (kind < 8) {
                out += '\\';
                const int digits = 1 + below(3);
                const int value = below(digits == 1 ? 8 : digits == 2 ? 64 : 256);
                for (int d = digits - 1; d >= 0; --d)
                    out += static_cast<char>('0' + ((value >> (3 * d)) & 7));
                // A digit right after a short octal escape is not part of it.
                if (digits < 3 && chance(30))
                    out += '7';
            } else if (kind < 9) {
                out += '(';
                ++open;
            } else if (open > 0) {
                out += ')';
                --open;
            }
        }
        out.append(static_cast<std::size_t>(open), ')');
        return out + ")";
    }

    // A hexadecimal string (7.3.4.3) with white space between digits, in either letter case,
    // now and then of an odd number of digits.
    std::string hex() {
        static constexpr std::string_view kDigits = "0123456789abcdefABCDEF";
        static constexpr std::string_view kBlanks[] = {" ", "\n", "\r", "\t", "\f"};
        std::string out = "<";
        for (int length = below(12); length > 0; --length) {
            out += kDigits[static_cast<std::size_t>(below(22))];
            if (chance(20))
                out += kBlanks[static_cast<std::size_t>(below(5))];
        }
        return out + ">";
    }

    std::string number() {
        static constexpr std::string_view kSigns[] = {"", "", "-", "+"};
        std::string out(kSigns[static_cast<std::size_t>(below(4))]);
        const std::string digits = std::to_string(below(100000));
        const int form = below(4);
        if (form != 2)
            out += digits;
        if (form != 0)
            out += '.';
        if (form == 1 || form == 2)
            out += std::to_string(below(1000));
        return out;
    }

    // Any object, nested no deeper than `depth` more levels.
    std::string value(int depth, bool inArray, bool references) {
        ++_objects;
        const int kind = below(depth > 0 ? 100 : 78);
        if (kind < 22)
            return literal();
        if (kind < 32)
            return hex();
        if (kind < 46)
            return name().insert(0, 1, '/');
        if (kind < 62)
            return number();
        if (kind < 68)
            return chance(50) ? "true" : "false";
        if (kind < 74) {
            if (inArray && chance(50))
                return "null";
            return references ? "3 0 R" : literal();
        }
        if (kind < 78)
            return "/";
        if (kind < 89) {
            std::string out = "[";
            for (int n = below(5); n > 0; --n)
                out += blank() + value(depth - 1, true, references);
            return out + blank() + "]";
        }
        return dictionary(depth - 1, below(4), "", references);
    }

    // A dictionary of `entries` junk entries with distinct keys, `fixed` written among them.
    std::string dictionary(int depth, int entries, std::string fixed, bool references,
                           const char *prefix = "") {
        std::set<std::string> keys;
        std::string out = "<<";
        const int fixedAt = below(entries + 1);
        for (int n = 0; n <= entries; ++n) {
            if (n == fixedAt) {
                out += blank() + fixed;
                continue;
            }
            std::string key = name(prefix);
            if (!keys.insert(key).second)
                continue;
            out += blank() + "/" + key + blank() + value(depth, false, references);
        }
        return out + blank() + ">>";
    }

private:
    std::mt19937 &_random;
    std::size_t _objects = 0;
};

} // namespace

GrammarDocument grammarDocument(std::mt19937 &random) {
    Junk junk(random);
    GrammarDocument document;
    document.pages = 1 + static_cast<std::uint32_t>(junk.below(3));
    std::string kids;
    for (std::uint32_t page = 0; page < document.pages; ++page)
        kids += std::to_string(3 + page) + " 0 R ";
    // Junk keys of the catalog and the page tree root begin with "J", so that none of them
    // stands for an entry the reader looks for.
    const std::string catalog = junk.dictionary(
        3, 2 + junk.below(8), "/Type /Catalog" + junk.blank() + "/Pages 2 0 R", true, "J");
    const std::string pages = junk.dictionary(3, 1 + junk.below(5),
                                              "/Type /Pages /Kids [" + kids + "]" + junk.blank() +
                                                  "/Count " + std::to_string(document.pages),
                                              true, "J");
    const std::string info = junk.dictionary(3, 4 + junk.below(12),
                                             "/Title" + junk.blank() + junk.literal(), false, "I");
    PdfBuilder builder;
    builder.object(1, catalog).object(2, pages);
    for (std::uint32_t page = 0; page < document.pages; ++page)
        builder.object(3 + page, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
    document.bytes = builder.object(10, info).build("/Root 1 0 R /Info 10 0 R");
    document.objects = junk.objects();
    return document;
}

} // namespace vellumtag::test
