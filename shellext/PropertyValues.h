#pragma once

#include <windows.h>

#include <propsys.h>

namespace vellumtag {

class PDFDictionary;

// Puts into store, marked PSC_READONLY, the value of each row of the property table that values
// holds (under its key, or else its fallback key), in the row's schema type: a text up to its
// first NUL, a list split at ';', a count as VT_I4, a rating as VT_UI4, a date as VT_FILETIME.
// Nothing empty is stored: a text that is empty up to its NUL, a list without items, a count or
// date that can't be read, or a value that memory runs out for leaves its property out. A value the
// store refuses is left out and the others are still stored.
void StoreProperties(IPropertyStoreCache &store, const PDFDictionary &values);

} // namespace vellumtag
