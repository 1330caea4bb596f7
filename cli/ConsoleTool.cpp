#include "ConsoleTool.h"

#include <string>
#include <string_view>
#include <thread>

#include "BatchRunner.h"
#include "FileReport.h"
#include "InputWalker.h"
#include "ProgressLine.h"
#include "ToolOptions.h"
#include "Version.h"

namespace vellumtag {

namespace {

constexpr std::string_view kUsageRule = "--------------------------------------";

} // namespace

int ConsoleTool::run(const std::vector<std::filesystem::path> &arguments) {
    if (arguments.empty()) {
        _out << "ERROR: Please give a PDF filename to analyze.\n";
        printUsage();
        return 100;
    }
    const ToolOptions options = ToolOptions::parse(arguments);
    if (options.help) {
        printUsage();
        return 0;
    }
    if (!options.error.empty()) {
        _err << "ERROR: " << options.error << std::endl;
        return 100;
    }
    readAll(options);
    if (options.pauseAtEnd) {
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
         << "--jobs N          Read N files at once (default: one per processor core); the\n"
         << "                  output is the same, in the same order\n"
         << "-r, --recursive   Read the .pdf files in the directories given and below them\n"
         << "--follow          With -r, also enter directories that are symbolic links\n"
         << "--json            One JSON object per line and file: file, result, and values\n"
         << "                  or error\n"
         << "--csv             CSV with a header row: file, result and the twelve\n"
         << "                  properties\n"
         << "--details         Also the document's facts: PDF:Version, PDF:Encryption,\n"
         << "                  PDF:PageSize and more, and the dates in ISO 8601\n"
         << "--xmp             Also every property of the XMP packet, as XMP-dc:Rights\n"
         << "\n";
}

void ConsoleTool::readAll(const ToolOptions &options) {
    auto render = renderBlock;
    if (options.format == OutputFormat::JsonLines)
        render = renderJsonLine;
    else if (options.format == OutputFormat::Csv) {
        render = renderCsvRow;
        _out << csvHeader(options.details);
    }
    const unsigned cores = std::thread::hardware_concurrency();
    const unsigned jobs = options.jobs != 0 ? options.jobs : (cores != 0 ? cores : 1);

    // The progress line shares the terminal with what is written; it is wiped before each
    // write there.
    ProgressLine progress(_err, ProgressLine::isTerminal(stderr));
    const bool outputOnTerminal = ProgressLine::isTerminal(stdout);
    auto warn = [&](std::string_view warning) {
        progress.wipe();
        _out.flush();
        _err << warning << std::flush;
    };

    InputWalker walker(options.files, options.recursive, options.follow);
    BatchRunner runner(
        jobs,
        [&](const InputWalker::Item &item) {
            return item.problem.empty() ? render(FileReport::read(item.path, options.strict,
                                                                  options.details, options.xmp))
                                        : RenderedReport{};
        },
        [&](const InputWalker::Item &item, RenderedReport &report) {
            if (!item.problem.empty()) {
                warn("Warning: cannot read directory " + displayName(item.path) + ": " +
                     item.problem + "\n");
                return;
            }
            if (outputOnTerminal)
                progress.wipe();
            _out << report.head;
            if (!report.warning.empty())
                warn(report.warning);
            _out << report.body;
            progress.fileDone(report.failed);
        });
    runner.run(walker);
    progress.wipe();
    _out.flush();
}

} // namespace vellumtag
