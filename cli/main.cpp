#include <cstdio>
#include <exception>
#include <iostream>
#include <vector>

#include "ConsoleTool.h"
#include "WildcardExpansion.h"

#ifdef _WIN32
#include <windows.h>

int wmain(int argc, wchar_t **argv) {
    SetConsoleOutputCP(CP_UTF8);
#else
int main(int argc, char **argv) {
#endif
    try {
        std::vector<std::filesystem::path> arguments(argv + 1, argv + argc);
        return vellumtag::ConsoleTool(std::cout, std::cerr, stdin)
            .run(vellumtag::expandWildcards(arguments));
    } catch (const std::exception &error) {
        std::cout.flush();
        std::fprintf(stderr, "Vellumtag: %s\n", error.what());
        return 1;
    }
}
