#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vellumtag {

// A FILETIME value: 100-nanosecond intervals since 1601-01-01 00:00 UTC.
using FileTime = std::uint64_t;

// Reads a PDF date ("D:YYYYMMDDHHmmSS") or an XMP date ("YYYY-MM-DDTHH:mm:SS"), each field
// scanned as scanf's "%4hu"/"%2hu" would, ignores whatever follows the seconds (a zone offset
// included), takes the fields as local time of the machine's current zone and gives the UTC
// FILETIME. No date when the text has fewer than six fields or names a time that
// SystemTimeToFileTime refuses (month 13, day 0, 31 February, hour 24, a year before 1601).
std::optional<FileTime> ConvertMetadataDate(std::u16string_view text);

} // namespace vellumtag
