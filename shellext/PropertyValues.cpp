#include "PropertyValues.h"

#include <objbase.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "metadata/MetadataDate.h"
#include "metadata/PropertyTable.h"
#include "syntax/PDFDictionary.h"

namespace vellumtag {

namespace {

static_assert(sizeof(Guid) == sizeof(GUID) && sizeof(wchar_t) == sizeof(char16_t));
static_assert(static_cast<VARTYPE>(DeclaredType::Integer) == VT_I4 &&
              static_cast<VARTYPE>(DeclaredType::Date) == VT_DATE &&
              static_cast<VARTYPE>(DeclaredType::StarRating) == VT_UI4 &&
              static_cast<VARTYPE>(DeclaredType::Text) == VT_LPWSTR &&
              static_cast<VARTYPE>(DeclaredType::TextList) == (VT_VECTOR | VT_LPWSTR));

PROPERTYKEY toPropertyKey(const PropertyKey &key) {
    PROPERTYKEY out{};
    out.fmtid.Data1 = key.formatId.data1;
    out.fmtid.Data2 = key.formatId.data2;
    out.fmtid.Data3 = key.formatId.data3;
    std::copy(std::begin(key.formatId.data4), std::end(key.formatId.data4), out.fmtid.Data4);
    out.pid = key.propertyId;
    return out;
}

// A copy of text in CoTaskMemAlloc'd memory, for PropVariantClear to free; null when memory
// runs out.
wchar_t *taskMemoryCopy(std::u16string_view text) {
    auto *copy = static_cast<wchar_t *>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
    if (copy != nullptr) {
        std::memcpy(copy, text.data(), text.size() * sizeof(wchar_t));
        copy[text.size()] = L'\0';
    }
    return copy;
}

// Built by hand rather than with InitPropVariantFromStringVector and
// InitPropVariantFromFileTime, which Wine's propsys lacks.
bool makeList(const std::vector<std::u16string> &items, PROPVARIANT &value) {
    if (items.empty())
        return false;
    auto *elements = static_cast<LPWSTR *>(CoTaskMemAlloc(items.size() * sizeof(LPWSTR)));
    if (elements == nullptr)
        return false;
    // Counted as they are made, so that PropVariantClear frees exactly those.
    value.vt = VT_VECTOR | VT_LPWSTR;
    value.calpwstr.pElems = elements;
    value.calpwstr.cElems = 0;
    for (const auto &item : items) {
        elements[value.calpwstr.cElems] = taskMemoryCopy(item);
        if (elements[value.calpwstr.cElems] == nullptr)
            return false;
        ++value.calpwstr.cElems;
    }
    return true;
}

// The value of one row in its schema type; false, with value left to PropVariantClear, when
// there is none to store.
bool makeValue(const PropertyRow &row, std::u16string_view text, PROPVARIANT &value) {
    // A reader of the property sees the text up to its first NUL, whatever its type.
    text = text.substr(0, text.find(u'\0'));
    switch (row.type) {
    case DeclaredType::Integer:
        if (const auto count = ParseCount(text)) {
            value.vt = VT_I4;
            value.lVal = *count;
            return true;
        }
        return false;
    case DeclaredType::StarRating:
        if (const auto percent = RatingPercent(text)) {
            value.vt = VT_UI4;
            value.ulVal = *percent;
            return true;
        }
        return false;
    case DeclaredType::Date:
        if (const auto date = ConvertMetadataDate(text)) {
            value.vt = VT_FILETIME;
            value.filetime.dwLowDateTime = static_cast<DWORD>(*date);
            value.filetime.dwHighDateTime = static_cast<DWORD>(*date >> 32);
            return true;
        }
        return false;
    case DeclaredType::TextList:
        return makeList(SplitList(text), value);
    case DeclaredType::Text:
        break;
    }
    if (text.empty())
        return false;
    value.pwszVal = taskMemoryCopy(text);
    value.vt = value.pwszVal != nullptr ? VT_LPWSTR : VT_EMPTY;
    return value.pwszVal != nullptr;
}

} // namespace

void StoreProperties(IPropertyStoreCache &store, const PDFDictionary &values) {
    for (const auto &row : kPropertyTable) {
        std::u16string text = values.getString(row.infoKey, u"");
        if (text.empty() && !row.fallbackKey.empty())
            text = values.getString(row.fallbackKey, u"");
        PROPVARIANT value;
        PropVariantInit(&value);
        // A store that refuses one value still serves the others.
        if (makeValue(row, text, value))
            static_cast<void>(store.SetValueAndState(toPropertyKey(row.key), &value, PSC_READONLY));
        PropVariantClear(&value);
    }
}

} // namespace vellumtag
