// Prints what the reader extracts from each file named on the command line, one JSON object
// per line, for the real-world conformance test (tests/conformance.py):
//
//   {"file": "a.pdf", "result": 0, "message": "OK", "values": {"Title": "..."},
//    "references": ["Author"], "raw": {"Keys": "(a) /b"}, "recovered": false}
//
// The file name and the keys are bytes: printable ASCII is written as is, every other byte
// as \u00XX. Values are UTF-16 code units, each non-printable or non-ASCII unit written as
// \uXXXX, so unpaired surrogates survive; the result's message is written the same way.
// "references" lists the keys whose value is an unresolved indirect reference; "raw" gives the
// source bytes of the arrays (tests/grammar.py tokenizes them); "recovered" tells
// whether the cross-reference data were rebuilt by a scan. With --strict as the first argument,
// every file is read in strict mode.
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

#include "PDFDocument.h"
#include "syntax/PDFResult.h"

namespace {

void appendEscaped(std::string &out, std::uint32_t unit) {
    if (unit == '"' || unit == '\\') {
        out += '\\';
        out += static_cast<char>(unit);
    } else if (unit >= 0x20 && unit < 0x7F) {
        out += static_cast<char>(unit);
    } else {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(unit));
        out += escape;
    }
}

std::string quoteBytes(std::string_view bytes) {
    std::string out = "\"";
    for (const char byte : bytes)
        appendEscaped(out, static_cast<std::uint8_t>(byte));
    return out + '"';
}

std::string quoteUnits(std::u16string_view units) {
    std::string out = "\"";
    for (const char16_t unit : units)
        appendEscaped(out, unit);
    return out + '"';
}

std::string describe(const char *file, bool strict) {
    vellumtag::PDFDocument document;
    document.setStrict(strict);
    const vellumtag::PDFResult result = document.load(file);
    std::string line = "{\"file\": " + quoteBytes(file) +
                       ", \"result\": " + std::to_string(static_cast<std::int32_t>(result)) +
                       ", \"message\": " + quoteUnits(vellumtag::resultMessage(result)) +
                       ", \"values\": {";
    std::string references, raw;
    const char *separator = "";
    for (const auto &[key, value] : document.values()) {
        line += separator + quoteBytes(key) + ": " + quoteUnits(value.text);
        if (value.isReference)
            references += (references.empty() ? "" : ", ") + quoteBytes(key);
        if (value.kind == vellumtag::PDFValue::Kind::Array)
            raw += (raw.empty() ? "" : ", ") + quoteBytes(key) + ": " +
                   quoteBytes(std::string_view(reinterpret_cast<const char *>(value.raw.data()),
                                               value.raw.size()));
        separator = ", ";
    }
    return line + "}, \"references\": [" + references + "], \"raw\": {" + raw +
           "}, \"recovered\": " + (document.recovered() ? "true" : "false") + "}\n";
}

} // namespace

int main(int argc, char **argv) {
    int status = 0;
    const bool strict = argc > 1 && std::string_view(argv[1]) == "--strict";
    for (int i = strict ? 2 : 1; i < argc; ++i) {
        try {
            std::fputs(describe(argv[i], strict).c_str(), stdout);
        } catch (const std::exception &error) {
            // Still one line per file, so the harness can tell which file threw.
            std::printf("{\"file\": %s, \"result\": -1, \"message\": \"\", \"values\": {}, "
                        "\"references\": [], \"recovered\": false}\n",
                        quoteBytes(argv[i]).c_str());
            std::fprintf(stderr, "metadata_dump: %s: %s\n", argv[i], error.what());
            status = 1;
        }
    }
    return status;
}
