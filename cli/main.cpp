#include <cstdio>
#include <exception>
#include <iostream>
#include <vector>

#include "ConsoleTool.h"
#include "WildcardExpansion.h"

#ifdef _WIN32
#include "ConsoleOutput.h"
#endif

namespace {

// The tool over the given streams; whatever it throws is reported on err after what out holds.
template <class Char> int runTool(std::ostream &out, std::ostream &err, int argc, Char **argv) {
    int status = 1;
    try {
        std::vector<std::filesystem::path> arguments(argv + 1, argv + argc);
        status = vellumtag::ConsoleTool(out, err, stdin).run(vellumtag::expandWildcards(arguments));
    } catch (const std::exception &error) {
        out.flush();
        err << "Vellumtag: " << error.what() << std::endl;
    } catch (...) {
        out.flush();
        err << "Vellumtag: unexpected error" << std::endl;
    }
    out.flush();
    return status;
}

} // namespace

#ifdef _WIN32

// Standard output and standard error are looked at one by one: a console is written through
// ConsoleOutput, anything else gets the UTF-8 bytes through the C runtime as before. Neither the
// console's code pages nor its modes are changed (no SetConsoleOutputCP, no SetConsoleMode), so
// nothing is left to restore at exit or on Ctrl+C, and no console control handler is installed.
int wmain(int argc, wchar_t **argv) {
    try {
        const HANDLE outHandle = GetStdHandle(STD_OUTPUT_HANDLE);
        const HANDLE errHandle = GetStdHandle(STD_ERROR_HANDLE);
        vellumtag::ConsoleOutput outConsole(outHandle);
        vellumtag::ConsoleOutput errConsole(errHandle);
        std::ostream outStream(&outConsole);
        std::ostream errStream(&errConsole);
        std::ostream &out = vellumtag::ConsoleOutput::isConsole(outHandle) ? outStream : std::cout;
        std::ostream &err = vellumtag::ConsoleOutput::isConsole(errHandle) ? errStream : std::cerr;
        // As std::cerr does with std::cout: what the tool wrote before a warning shows before it.
        err.setf(std::ios::unitbuf);
        err.tie(&out);
        return runTool(out, err, argc, argv);
    } catch (...) {
        // Only the streams' own setup gets here; runTool reports everything else.
        return 1;
    }
}

#else

int main(int argc, char **argv) { return runTool(std::cout, std::cerr, argc, argv); }

#endif
