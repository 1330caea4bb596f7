#pragma once

#include <cstdio>
#include <filesystem>
#include <ostream>
#include <vector>

namespace vellumtag {

// The console front end: takes the already expanded arguments (program name excluded),
// prints one block per file to out as UTF-8 and returns the exit status: 100 when there are
// no arguments at all, 0 otherwise. Nothing read from one file survives to the next.
class ConsoleTool {
public:
    ConsoleTool(std::ostream &out, std::FILE *in) : _out(out), _in(in) {}

    int run(const std::vector<std::filesystem::path> &arguments);

private:
    void printUsage();
    void printFile(const std::filesystem::path &path);

    std::ostream &_out;
    std::FILE *_in;
};

} // namespace vellumtag
