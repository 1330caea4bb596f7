#pragma once

#include <cstdio>
#include <filesystem>
#include <ostream>
#include <vector>

namespace vellumtag {

// The console front end: takes the already expanded arguments (program name excluded),
// prints one block per file to out as UTF-8, a warning to err for each file whose
// cross-reference data had to be rebuilt, and returns the exit status: 100 when there are no
// arguments at all, 0 otherwise. Nothing read from one file survives to the next.
class ConsoleTool {
public:
    ConsoleTool(std::ostream &out, std::ostream &err, std::FILE *in)
        : _out(out), _err(err), _in(in) {}

    int run(const std::vector<std::filesystem::path> &arguments);

private:
    void printUsage();
    void printFile(const std::filesystem::path &path, bool strict);

    std::ostream &_out;
    std::ostream &_err;
    std::FILE *_in;
};

} // namespace vellumtag
