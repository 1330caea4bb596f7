#include "FileReport.h"

#include <new>
#include <string_view>

#include <nlohmann/json.hpp>

#include "PDFDocument.h"
#include "metadata/PropertyTable.h"
#include "syntax/TextEncoding.h"

namespace vellumtag {

namespace {

constexpr std::string_view kSeparator = "------------------------------------------------------";
constexpr std::string_view kRecoveredWarning =
    "Warning: damaged file, cross-reference data rebuilt\n";
constexpr std::string_view kHeaderWarning = "Warning: damaged file, no PDF header\n";
constexpr std::string_view kOutOfMemory = "Out of memory";

std::string messageOf(const FileReport &report) {
    if (report.outOfMemory)
        return std::string(kOutOfMemory);
    std::string out;
    appendUtf8(resultMessage(report.result), out);
    return out;
}

// The result column and field: the reader's code, 199 for running out of memory.
int codeOf(const FileReport &report) {
    return report.outOfMemory ? static_cast<int>(PDFResult::Unspecified)
                              : static_cast<int>(report.result);
}

std::string warningOf(const FileReport &report) {
    std::string warning = report.headerMissing ? std::string(kHeaderWarning) : std::string();
    if (report.recovered)
        warning += kRecoveredWarning;
    return warning;
}

// RFC 4180, 2.6 and 2.7: a field with a comma, a quote or a line break is quoted, quotes
// inside doubled.
void appendCsvField(std::string_view field, std::string &out) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        out.append(field);
        return;
    }
    out.push_back('"');
    for (const char c : field) {
        if (c == '"')
            out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
}

} // namespace

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

FileReport FileReport::read(const std::filesystem::path &path, bool strict) {
    FileReport report;
    report.path = path;
    try {
        PDFDocument document;
        document.setStrict(strict);
        report.result = document.load(path);
        report.recovered = document.recovered();
        report.headerMissing = document.headerMissing();
        if (report.result == PDFResult::Ok)
            report.values = document.values();
    } catch (const std::bad_alloc &) {
        report.values = {};
        report.outOfMemory = true;
    }
    return report;
}

RenderedReport renderBlock(const FileReport &report) {
    RenderedReport out;
    out.failed = report.failed();
    out.head.append(kSeparator).append("\nFilename: ").append(displayName(report.path));
    out.head.append("\n").append(kSeparator).append("\n");
    if (report.outOfMemory) {
        out.head.append("Error: Out of memory\n");
        return out;
    }
    out.warning = warningOf(report);
    if (report.result != PDFResult::Ok) {
        out.body.append("Error: ").append(std::to_string(codeOf(report))).append(": ");
        out.body.append(messageOf(report)).append("\n");
        return out;
    }
    for (const auto &[key, value] : report.values) {
        out.body.append(key).append(" => ");
        if (!appendUtf8(value.text, out.body)) {
            out.body.append("*** Unsupported console Unicode data, len: ");
            out.body.append(std::to_string(value.text.size())).append(" ***");
        }
        out.body.push_back('\n');
    }
    return out;
}

RenderedReport renderJsonLine(const FileReport &report) {
    // Keys in insertion order: file, result, then values or error.
    nlohmann::ordered_json line;
    line["file"] = displayName(report.path);
    line["result"] = codeOf(report);
    if (report.failed()) {
        line["error"] = messageOf(report);
    } else {
        auto &values = line["values"] = nlohmann::ordered_json::object();
        for (const auto &[key, value] : report.values)
            values[key] = validUtf8(value.text);
    }
    RenderedReport out;
    out.failed = report.failed();
    out.warning = warningOf(report);
    // A file name that is not UTF-8 (POSIX allows any bytes) has U+FFFD for what is not.
    out.body = line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    out.body.push_back('\n');
    return out;
}

std::string csvHeader() {
    std::string out = "file,result";
    for (const auto &row : kPropertyTable)
        out.append(",").append(row.infoKey);
    out.append("\r\n");
    return out;
}

RenderedReport renderCsvRow(const FileReport &report) {
    RenderedReport out;
    out.failed = report.failed();
    out.warning = warningOf(report);
    // The name with what is not UTF-8 (POSIX allows any bytes) as U+FFFD, as in JSON.
    const std::string name = displayName(report.path);
    appendCsvField(validUtf8(decodeUtf8(std::span(
                       reinterpret_cast<const std::uint8_t *>(name.data()), name.size()))),
                   out.body);
    out.body.append(",").append(std::to_string(codeOf(report)));
    for (const auto &row : kPropertyTable) {
        out.body.push_back(',');
        if (const PDFValue *value = report.values.find(row.infoKey))
            appendCsvField(validUtf8(value->text), out.body);
    }
    out.body.append("\r\n");
    return out;
}

} // namespace vellumtag
