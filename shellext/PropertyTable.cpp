#include "PropertyTable.h"

namespace vellumtag {

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

} // namespace vellumtag
