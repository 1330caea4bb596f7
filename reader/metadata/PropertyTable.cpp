#include "metadata/PropertyTable.h"

#include <limits>

namespace vellumtag {

namespace {

// ASCII white space, no-break space and the ideographic space, which CJK writers put between
// names.
bool isBlank(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r') || c == u'\u00A0' || c == u'\u3000';
}

std::u16string_view trimmed(std::u16string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

} // namespace

bool HasPdfExtension(std::u16string_view path) {
    constexpr std::u16string_view kExtension = u".pdf";
    if (path.size() < kExtension.size())
        return false;
    const auto tail = path.substr(path.size() - kExtension.size());
    for (std::size_t i = 0; i < kExtension.size(); ++i) {
        char16_t c = tail[i];
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != kExtension[i])
            return false;
    }
    return true;
}

std::vector<std::u16string> SplitList(std::u16string_view text) {
    std::vector<std::u16string> items;
    for (;;) {
        const std::size_t end = text.find(u';');
        const std::u16string_view item = trimmed(text.substr(0, end));
        if (!item.empty())
            items.emplace_back(item);
        if (end == std::u16string_view::npos)
            return items;
        text.remove_prefix(end + 1);
    }
}

std::optional<std::int32_t> ParseCount(std::u16string_view text) {
    text = trimmed(text);
    if (text.empty())
        return std::nullopt;
    std::int64_t value = 0;
    for (const char16_t c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c - u'0');
        if (value > std::numeric_limits<std::int32_t>::max())
            return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

std::optional<std::uint32_t> RatingPercent(std::u16string_view text) {
    // Windows Explorer writes 1, 25, 50, 75 and 99 for one to five stars.
    constexpr std::uint32_t kPercent[] = {1, 25, 50, 75, 99};
    const auto stars = ParseCount(text);
    if (!stars || *stars < 1 || *stars > 5)
        return std::nullopt;
    return kPercent[*stars - 1];
}

} // namespace vellumtag
