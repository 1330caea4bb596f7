#pragma once

#include <filesystem>
#include <string>

#include "metadata/DocumentFacts.h"
#include "syntax/PDFDictionary.h"
#include "syntax/PDFResult.h"

namespace vellumtag {

// What reading one file gave, and the text of it in each output format. Reading catches
// running out of memory, which ends that file only; nothing else is thrown.
struct FileReport {
    std::filesystem::path path;
    PDFResult result = PDFResult::Ok;
    bool outOfMemory = false;
    bool recovered = false;     // cross-reference data rebuilt
    bool headerMissing = false; // read without "%PDF-", its cross-reference data being intact
    PDFDictionary values;       // empty unless result is Ok
    bool withDetails = false;   // facts read, and to be written
    bool withXmp = false;       // the XMP packet's properties read, and to be written
    DocumentFacts facts;
    DocumentFacts::Entries xmp;

    // details and xmp: read the document facts and every XMP property as well.
    static FileReport read(const std::filesystem::path &path, bool strict, bool details = false,
                           bool xmp = false);

    bool failed() const { return outOfMemory || result != PDFResult::Ok; }
};

// A report as text: what goes to standard output before a warning, the warning for standard
// error (may be empty), and what goes to standard output after it.
struct RenderedReport {
    std::string head;
    std::string warning;
    std::string body;
    bool failed = false;
};

RenderedReport renderBlock(const FileReport &report);
RenderedReport renderJsonLine(const FileReport &report);
RenderedReport renderCsvRow(const FileReport &report);
// The header row of the CSV output: file, result and the handler's twelve keys, then with
// details the keys of the facts.
std::string csvHeader(bool details = false);

// The name exactly as given: bytes on POSIX, UTF-16 turned into UTF-8 on Windows.
std::string displayName(const std::filesystem::path &path);

} // namespace vellumtag
