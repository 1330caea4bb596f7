#include "WildcardExpansion.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <glob.h>
#endif

namespace vellumtag {

namespace {

bool isDotEntry(const std::filesystem::path &name) {
    const std::filesystem::path filename = name.filename();
    const auto &native = filename.native();
    return native.size() <= 2 && !native.empty() &&
           native.find_first_not_of(static_cast<std::filesystem::path::value_type>('.')) ==
               std::filesystem::path::string_type::npos;
}

#ifdef _WIN32

void appendMatches(const std::filesystem::path &pattern, std::vector<std::filesystem::path> &out) {
    const std::wstring &text = pattern.native();
    const auto wildcard = text.find_first_of(L"*?");
    const auto separator = text.find_last_of(L"\\/:", wildcard);
    const std::wstring directory =
        separator == std::wstring::npos ? std::wstring() : text.substr(0, separator + 1);

    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(text.c_str(), &data);
    const std::size_t before = out.size();
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::filesystem::path name(data.cFileName);
            if (!isDotEntry(name))
                out.emplace_back(directory + data.cFileName);
        } while (FindNextFileW(search, &data));
        FindClose(search);
    }
    if (out.size() == before)
        out.push_back(pattern);
}

#else

void appendMatches(const std::filesystem::path &pattern, std::vector<std::filesystem::path> &out) {
    glob_t matches{};
    const std::size_t before = out.size();
    if (glob(pattern.c_str(), 0, nullptr, &matches) == 0) {
        for (std::size_t i = 0; i < matches.gl_pathc; ++i) {
            std::filesystem::path name(matches.gl_pathv[i]);
            if (!isDotEntry(name))
                out.push_back(std::move(name));
        }
    }
    globfree(&matches);
    if (out.size() == before)
        out.push_back(pattern);
}

#endif

} // namespace

std::vector<std::filesystem::path> expandWildcards(const std::vector<std::filesystem::path> &args) {
    std::vector<std::filesystem::path> out;
    out.reserve(args.size());
    for (const auto &argument : args) {
        const auto &native = argument.native();
        const bool hasWildcard = native.find(static_cast<std::filesystem::path::value_type>('*')) !=
                                     std::filesystem::path::string_type::npos ||
                                 native.find(static_cast<std::filesystem::path::value_type>('?')) !=
                                     std::filesystem::path::string_type::npos;
        if (hasWildcard)
            appendMatches(argument, out);
        else
            out.push_back(argument);
    }
    return out;
}

} // namespace vellumtag
