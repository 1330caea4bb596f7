#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace vellumtag {

enum class OutputFormat { Blocks, JsonLines, Csv };

// The console tool's command line, parsed: options in any letter case, anywhere among the
// files. "--jobs N" and "--jobs=N" take a count; other unknown options are ignored. error is
// set, and the rest is unspecified, when an option's value is unusable.
struct ToolOptions {
    bool help = false;
    bool pauseAtEnd = false;
    bool strict = false;
    bool recursive = false;
    bool follow = false;
    bool details = false; // the document facts after the metadata
    bool xmp = false;     // every property of the XMP packet after the metadata
    unsigned jobs = 0;    // 0: one per core
    OutputFormat format = OutputFormat::Blocks;
    std::vector<std::filesystem::path> files;
    std::string error;

    static ToolOptions parse(const std::vector<std::filesystem::path> &arguments);
};

} // namespace vellumtag
