#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace vellumtag {

// The files a run reads, one at a time, in a stable order: each argument as given, or with
// recursion a directory argument's tree, depth first, each directory's entries sorted by name,
// taking the files whose extension is .pdf in any letter case. Symlinked files are read;
// symlinked directories are entered only when following, and never twice along one branch,
// so a link loop ends. Only one directory's names are held per level of the walk, never the
// whole tree.
class InputWalker {
public:
    struct Item {
        std::filesystem::path path;
        // Set when path is a directory that could not be read: the reason, and nothing to read.
        std::string problem;
    };

    InputWalker(std::vector<std::filesystem::path> arguments, bool recursive, bool follow)
        : _arguments(std::move(arguments)), _recursive(recursive), _follow(follow) {}

    // The next item; false when there is none left.
    bool next(Item &item);

private:
    struct Level {
        std::filesystem::path directory;
        std::filesystem::path identity; // canonical, for the loop check
        std::vector<std::filesystem::path> entries;
        std::size_t position = 0;
    };

    // Reads the directory's sorted entries as a new level; false with item set on a problem.
    bool enter(const std::filesystem::path &directory, Item &item);

    std::vector<std::filesystem::path> _arguments;
    std::size_t _nextArgument = 0;
    bool _recursive;
    bool _follow;
    std::vector<Level> _levels;
};

} // namespace vellumtag
