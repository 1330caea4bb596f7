#include "PropertyValues.h"

#include <objbase.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "MetadataDate.h"
#include "PropertyTable.h"
#include "syntax/PDFDictionary.h"

namespace vellumtag {

namespace {

static_assert(sizeof(Guid) == sizeof(GUID) && sizeof(wchar_t) == sizeof(char16_t));
static_assert(static_cast<VARTYPE>(DeclaredType::Date) == VT_DATE &&
              static_cast<VARTYPE>(DeclaredType::Text) == VT_LPWSTR);

PROPERTYKEY toPropertyKey(const PropertyKey &key) {
    PROPERTYKEY out{};
    out.fmtid.Data1 = key.formatId.data1;
    out.fmtid.Data2 = key.formatId.data2;
    out.fmtid.Data3 = key.formatId.data3;
    std::copy(std::begin(key.formatId.data4), std::end(key.formatId.data4), out.fmtid.Data4);
    out.pid = key.propertyId;
    return out;
}

// The value of one row, VT_EMPTY when a date can't be read or memory runs out.
PROPVARIANT makeValue(const PropertyRow &row, const std::u16string &text) {
    PROPVARIANT value;
    PropVariantInit(&value);
    if (row.type == DeclaredType::Date) {
        // Built by hand: Wine's propsys lacks InitPropVariantFromFileTime.
        if (const auto date = ConvertMetadataDate(text)) {
            value.vt = VT_FILETIME;
            value.filetime.dwLowDateTime = static_cast<DWORD>(*date);
            value.filetime.dwHighDateTime = static_cast<DWORD>(*date >> 32);
        }
        return value;
    }
    const std::size_t length = std::min(text.find(u'\0'), text.size());
    auto *copy = static_cast<wchar_t *>(CoTaskMemAlloc((length + 1) * sizeof(wchar_t)));
    if (copy != nullptr) {
        std::memcpy(copy, text.data(), length * sizeof(wchar_t));
        copy[length] = L'\0';
        value.vt = VT_LPWSTR;
        value.pwszVal = copy;
    }
    return value;
}

} // namespace

void StoreProperties(IPropertyStoreCache &store, const PDFDictionary &values) {
    for (const auto &row : kPropertyTable) {
        const std::u16string text = values.getString(std::string(row.infoKey), u"");
        if (text.empty())
            continue;
        PROPVARIANT value = makeValue(row, text);
        // A store that refuses one value still serves the others.
        static_cast<void>(store.SetValueAndState(toPropertyKey(row.key), &value, PSC_READONLY));
        PropVariantClear(&value);
    }
}

} // namespace vellumtag
