#pragma once

#include <windows.h>

#include <propsys.h>

namespace vellumtag {

class PDFDictionary;

// Puts into store the value of each row of the property table that values holds as non-empty
// text, marked PSC_READONLY: a text up to its first NUL, a date as VT_FILETIME, or VT_EMPTY
// where a date can't be converted or memory runs out. A value the store refuses is left out
// and the others are still stored.
void StoreProperties(IPropertyStoreCache &store, const PDFDictionary &values);

} // namespace vellumtag
