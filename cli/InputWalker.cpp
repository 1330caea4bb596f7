#include "InputWalker.h"

#include <algorithm>
#include <system_error>

#include "metadata/PropertyTable.h"

namespace vellumtag {

namespace {

// The shell's test, on the extension alone: a name that is not ASCII there is no ".pdf".
bool hasPdfExtension(const std::filesystem::path &path) {
    const std::filesystem::path dotted = path.extension();
    std::u16string extension;
    for (const auto unit : dotted.native()) {
        if (static_cast<unsigned>(unit) > 0x7F)
            return false;
        extension.push_back(static_cast<char16_t>(unit));
    }
    return HasPdfExtension(extension);
}

std::string reason(const std::error_code &error) { return error.message(); }

} // namespace

bool InputWalker::enter(const std::filesystem::path &directory, Item &item) {
    std::error_code error;
    Level level;
    level.directory = directory;
    level.identity = std::filesystem::canonical(directory, error);
    if (!error) {
        const bool seen = std::any_of(_levels.begin(), _levels.end(), [&](const Level &above) {
            return above.identity == level.identity;
        });
        // A link back to a directory above: entering it again would never end.
        if (seen)
            return true;
        std::filesystem::directory_iterator it(directory, error);
        for (; !error && it != std::filesystem::directory_iterator(); it.increment(error))
            level.entries.push_back(it->path().filename());
    }
    if (error) {
        item.path = directory;
        item.problem = reason(error);
        return false;
    }
    std::sort(level.entries.begin(), level.entries.end());
    _levels.push_back(std::move(level));
    return true;
}

bool InputWalker::next(Item &item) {
    item = {};
    for (;;) {
        if (_levels.empty()) {
            if (_nextArgument == _arguments.size())
                return false;
            const auto &argument = _arguments[_nextArgument++];
            std::error_code error;
            // A directory named on the command line is walked even when it is a link.
            if (!_recursive || !std::filesystem::is_directory(argument, error)) {
                item.path = argument;
                return true;
            }
            if (!enter(argument, item))
                return true;
            continue;
        }
        Level &level = _levels.back();
        if (level.position == level.entries.size()) {
            _levels.pop_back();
            continue;
        }
        const auto path = level.directory / level.entries[level.position++];
        std::error_code error;
        const auto status = std::filesystem::symlink_status(path, error);
        if (error)
            continue;
        auto target = status;
        if (std::filesystem::is_symlink(status)) {
            target = std::filesystem::status(path, error);
            // A dangling link named .pdf is reported as the file it names, not passed over.
            if (error) {
                if (hasPdfExtension(path)) {
                    item.path = path;
                    return true;
                }
                continue;
            }
            if (std::filesystem::is_directory(target)) {
                if (_follow && !enter(path, item))
                    return true;
                continue;
            }
        } else if (std::filesystem::is_directory(status)) {
            if (!enter(path, item))
                return true;
            continue;
        }
        // Only regular files: a FIFO or a device named .pdf would block the walk.
        if (std::filesystem::is_regular_file(target) && hasPdfExtension(path)) {
            item.path = path;
            return true;
        }
    }
}

} // namespace vellumtag
