#include "ToolOptions.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <string_view>

namespace vellumtag {

namespace {

// The argument in ASCII lower case when it is all ASCII; options are nothing else.
std::optional<std::string> asciiLower(const std::filesystem::path &argument) {
    std::string out;
    for (const auto unit : argument.native()) {
        if (static_cast<unsigned>(unit) > 0x7F)
            return std::nullopt;
        const char c = static_cast<char>(unit);
        out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    }
    return out;
}

// A count of jobs from 1 to a bound that no machine reaches; anything else is an error.
bool parseJobs(std::string_view text, unsigned &jobs) {
    constexpr unsigned kMostJobs = 1024;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value == 0 || value > kMostJobs)
        return false;
    jobs = value;
    return true;
}

} // namespace

ToolOptions ToolOptions::parse(const std::vector<std::filesystem::path> &arguments) {
    ToolOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const auto &argument = arguments[i];
        if (argument.empty() || argument.native().front() != '-') {
            options.files.push_back(argument);
            continue;
        }
        const std::string name = asciiLower(argument).value_or("");
        if (name == "--help")
            options.help = true;
        else if (name == "--pause-at-end")
            options.pauseAtEnd = true;
        else if (name == "--strict")
            options.strict = true;
        else if (name == "-r" || name == "--recursive")
            options.recursive = true;
        else if (name == "--follow")
            options.follow = true;
        else if (name == "--details")
            options.details = true;
        else if (name == "--xmp")
            options.xmp = true;
        else if (name == "--json")
            options.format = OutputFormat::JsonLines;
        else if (name == "--csv")
            options.format = OutputFormat::Csv;
        else if (name == "--jobs" || name.starts_with("--jobs=")) {
            std::string value;
            if (name != "--jobs")
                value = name.substr(7);
            else if (i + 1 < arguments.size())
                value = asciiLower(arguments[++i]).value_or("");
            if (!parseJobs(value, options.jobs))
                options.error = "--jobs needs a count of files to read at once, from 1 to 1024";
        }
    }
    return options;
}

} // namespace vellumtag
