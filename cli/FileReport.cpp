#include "FileReport.h"

#include <new>
#include <span>
#include <string_view>

#include <nlohmann/json.hpp>

#include "PDFDocument.h"
#include "metadata/PropertyTable.h"
#include "syntax/PDFNames.h"
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

// The facts with their types: booleans, numbers, lists, and null for no encryption.
nlohmann::ordered_json documentObject(const FileReport &report) {
    const DocumentFacts &facts = report.facts;
    nlohmann::ordered_json document = nlohmann::ordered_json::object();
    if (facts.version)
        document["version"] = *facts.version;
    if (!facts.encrypted)
        document["encryption"] = nullptr;
    else if (facts.encryption)
        document["encryption"] = {{"algorithm", facts.encryption->algorithm},
                                  {"revision", facts.encryption->revision},
                                  {"keyBits", facts.encryption->keyBits}};
    if (facts.linearized)
        document["linearized"] = *facts.linearized;
    if (facts.tagged)
        document["tagged"] = *facts.tagged;
    if (facts.language && !facts.language->empty())
        document["language"] = validUtf8(*facts.language);
    if (facts.pageSize)
        document["pageSize"] = {(*facts.pageSize)[0], (*facts.pageSize)[1]};
    if (facts.form)
        document["form"] = *facts.form;
    if (facts.attachments)
        document["attachments"] = *facts.attachments;
    document["conformance"] = facts.conformance;
    const std::pair<std::string_view, const char *> dates[] = {{names::kCreationDate, "created"},
                                                               {names::kModDate, "modified"}};
    for (const auto &[source, target] : dates) {
        const PDFValue *value = report.values.find(source);
        if (const auto iso = value ? DocumentFacts::isoDate(value->text) : std::nullopt)
            document[target] = *iso;
    }
    if (const PDFValue *pages = report.values.find(names::kPageCount)) {
        if (const auto count = ParseCount(pages->text))
            document["pageCount"] = *count;
    }
    return document;
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

FileReport FileReport::read(const std::filesystem::path &path, bool strict, bool details,
                            bool xmp) {
    FileReport report;
    report.path = path;
    report.withDetails = details;
    report.withXmp = xmp;
    try {
        PDFDocument document;
        document.setStrict(strict);
        document.setDetails(details);
        document.setXmp(xmp);
        report.result = document.load(path);
        report.recovered = document.recovered();
        report.headerMissing = document.headerMissing();
        if (report.result == PDFResult::Ok) {
            report.values = document.values();
            report.facts = document.facts();
            report.xmp = document.xmp();
        }
    } catch (const std::bad_alloc &) {
        report.values = {};
        report.facts = {};
        report.xmp = {};
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
    const auto line = [&out](std::string_view key, const std::u16string &text) {
        out.body.append(key).append(" => ");
        if (!appendUtf8(text, out.body)) {
            out.body.append("*** Unsupported console Unicode data, len: ");
            out.body.append(std::to_string(text.size())).append(" ***");
        }
        out.body.push_back('\n');
    };
    for (const auto &[key, value] : report.values)
        line(key, value.text);
    // The facts and the packet's properties after the metadata, each in its own order.
    if (report.withDetails) {
        for (const auto &[key, text] : report.facts.entries(report.values))
            line(key, text);
    }
    if (report.withXmp) {
        for (const auto &[key, text] : report.xmp)
            line(key, text);
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
        if (report.withDetails)
            line["document"] = documentObject(report);
        if (report.withXmp) {
            auto &xmp = line["xmp"] = nlohmann::ordered_json::object();
            for (const auto &[key, text] : report.xmp)
                xmp[key] = validUtf8(text);
        }
    }
    RenderedReport out;
    out.failed = report.failed();
    out.warning = warningOf(report);
    // A file name that is not UTF-8 (POSIX allows any bytes) has U+FFFD for what is not.
    out.body = line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    out.body.push_back('\n');
    return out;
}

std::string csvHeader(bool details) {
    std::string out = "file,result";
    for (const auto &row : std::span(kPropertyTable).first<kInfoProperties>())
        out.append(",").append(row.infoKey);
    if (details) {
        for (const std::string_view key : DocumentFacts::keys())
            out.append(",").append(key);
    }
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
    for (const auto &row : std::span(kPropertyTable).first<kInfoProperties>()) {
        out.body.push_back(',');
        if (const PDFValue *value = report.values.find(row.infoKey))
            appendCsvField(validUtf8(value->text), out.body);
    }
    if (report.withDetails) {
        // One column per key, empty where the fact is missing.
        const DocumentFacts::Entries facts = report.facts.entries(report.values);
        auto fact = facts.begin();
        for (const std::string_view key : DocumentFacts::keys()) {
            out.body.push_back(',');
            if (fact != facts.end() && fact->first == key)
                appendCsvField(validUtf8((fact++)->second), out.body);
        }
    }
    out.body.append("\r\n");
    return out;
}

} // namespace vellumtag
