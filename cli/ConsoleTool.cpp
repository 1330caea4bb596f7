#include "ConsoleTool.h"

#include <algorithm>
#include <new>
#include <string>
#include <string_view>

#include "PDFDocument.h"
#include "Version.h"
#include "syntax/TextEncoding.h"

namespace vellumtag {

namespace {

constexpr std::string_view kSeparator = "------------------------------------------------------";
constexpr std::string_view kUsageRule = "--------------------------------------";

using NativeString = std::filesystem::path::string_type;

bool equalsIgnoringCase(const NativeString &argument, std::string_view option) {
    return argument.size() == option.size() &&
           std::equal(argument.begin(), argument.end(), option.begin(), [](auto a, char b) {
               const auto lower = (a >= 'A' && a <= 'Z') ? a - 'A' + 'a' : a;
               return lower == static_cast<decltype(lower)>(static_cast<unsigned char>(b));
           });
}

bool hasOption(const std::vector<std::filesystem::path> &arguments, std::string_view option) {
    return std::any_of(arguments.begin(), arguments.end(), [&](const auto &argument) {
        return equalsIgnoringCase(argument.native(), option);
    });
}

// The name exactly as given: bytes on POSIX, UTF-16 turned into UTF-8 on Windows.
std::string displayName(const std::filesystem::path &path) {
#ifdef _WIN32
    std::string name;
    const auto &native = path.native();
    appendUtf8(
        std::u16string_view(reinterpret_cast<const char16_t *>(native.data()), native.size()),
        name);
    return name;
#else
    return path.native();
#endif
}

std::string utf8(std::u16string_view text) {
    std::string out;
    appendUtf8(text, out);
    return out;
}

} // namespace

int ConsoleTool::run(const std::vector<std::filesystem::path> &arguments) {
    if (arguments.empty()) {
        _out << "ERROR: Please give a PDF filename to analyze.\n";
        printUsage();
        return 100;
    }
    if (hasOption(arguments, "--help")) {
        printUsage();
        return 0;
    }
    const bool strict = hasOption(arguments, "--strict");
    for (const auto &argument : arguments) {
        if (!argument.empty() && argument.native().front() == '-')
            continue;
        printFile(argument, strict);
    }
    if (hasOption(arguments, "--pause-at-end")) {
        _out << "\nPress any key to continue...\n" << std::flush;
        if (_in != nullptr)
            static_cast<void>(std::fgetc(_in));
    }
    return 0;
}

void ConsoleTool::printUsage() {
    _out << kUsageRule << "\n"
         << "Vellumtag command line tool\n"
         << "Version: " << kVersion << "\n"
         << kUsageRule << "\n"
         << "\n"
         << "Usage: Vellumtag.exe [options] <filenames> [<filename> ...]\n"
         << "\n"
         << "<filename> can be a single filename, multiple filenames (enclose them in \"\") or "
            "patterns like *.pdf\n"
         << "\n"
         << "Options\n"
         << "-------\n"
         << "--help            Show this help text\n"
         << "--pause-at-end    Wait for key press at the end of parsing\n"
         << "--strict          Read files only as the PDF standard lays them out: no header\n"
         << "                  after a preamble, no startxref far from the end, no rebuilding\n"
         << "                  of damaged cross-reference data\n"
         << "\n";
}

void ConsoleTool::printFile(const std::filesystem::path &path, bool strict) {
    _out << kSeparator << "\n"
         << "Filename: " << displayName(path) << "\n"
         << kSeparator << "\n";

    PDFResult result = PDFResult::Ok;
    PDFDictionary values;
    bool recovered = false;
    try {
        PDFDocument document;
        document.setStrict(strict);
        result = document.load(path);
        if (result == PDFResult::Ok)
            values = document.values();
        recovered = document.recovered();
    } catch (const std::bad_alloc &) {
        _out << "Error: Out of memory" << std::endl;
        return;
    }

    if (recovered) {
        _out.flush();
        _err << "Warning: damaged file, cross-reference data rebuilt" << std::endl;
    }
    if (result != PDFResult::Ok) {
        _out << "Error: " << static_cast<std::int32_t>(result) << ": "
             << utf8(resultMessage(result)) << "\n";
        return;
    }
    std::string line;
    for (const auto &[key, value] : values) {
        line.assign(key);
        line.append(" => ");
        if (!appendUtf8(value.text, line)) {
            line.append("*** Unsupported console Unicode data, len: ");
            line.append(std::to_string(value.text.size()));
            line.append(" ***");
        }
        line.push_back('\n');
        _out << line;
    }
    _out.flush();
}

} // namespace vellumtag
