#pragma once

#include <cstdio>
#include <filesystem>
#include <ostream>
#include <vector>

namespace vellumtag {

struct ToolOptions;

// The console front end: takes the already expanded arguments (program name excluded), reads
// the files, on several threads unless told otherwise, and prints one block, JSON line or CSV
// row per file to out as UTF-8 in argument order, a warning to err for each file whose
// cross-reference data had to be rebuilt and each directory that can't be read, and a progress
// line on err when the process's standard error is a terminal. Returns the exit status: 100
// when there are no arguments at all or an option's value is unusable, 0 otherwise. Nothing
// read from one file survives to the next.
class ConsoleTool {
public:
    ConsoleTool(std::ostream &out, std::ostream &err, std::FILE *in)
        : _out(out), _err(err), _in(in) {}

    int run(const std::vector<std::filesystem::path> &arguments);

private:
    void printUsage();
    void readAll(const ToolOptions &options);

    std::ostream &_out;
    std::ostream &_err;
    std::FILE *_in;
};

} // namespace vellumtag
