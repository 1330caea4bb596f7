#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vellumtag {

// A FILETIME value: 100-nanosecond intervals since 1601-01-01 00:00 UTC.
using FileTime = std::uint64_t;

// The fields of a metadata date as written, the ones it leaves out at their defaults (month
// and day 1, the rest 0). Every field names a real calendar time: month 1-12, a day the month
// has, hour 0-23, minute and second 0-59, ticks (100 ns) 0-9'999'999. zoneMinutes is the
// offset from UTC, east positive, within ±23:59; without it the date is local time of an
// unknown zone (ISO 32000-1 §7.9.4).
struct MetadataDateFields {
    int year = 0;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int ticks = 0;
    std::optional<int> zoneMinutes;

    bool operator==(const MetadataDateFields &) const = default;
};

// Reads the whole text, blanks around it aside, as one of the two date forms a PDF carries:
// - a PDF date (ISO 32000-1 §7.9.4), D:YYYY[MM[DD[HH[mm[SS[O[HH[']][mm[']]]]]]]], O being +, -
//   or Z. The D: prefix may be left out, as older writers do; each apostrophe of the zone is
//   optional; after Z only a zero offset may follow. A zone follows only a full time.
// - an XMP date (the ISO 8601 subset of XMP): YYYY, YYYY-MM, YYYY-MM-DD or
//   YYYY-MM-DDThh:mm[:ss[.s+]][Z|+hh:mm|-hh:mm], fractions kept to 100 ns and cut beyond.
// Every field has exactly its number of digits; letters are case-sensitive. No fields for
// anything else: another character anywhere, a field out of range (31 February, hour 24, a
// zone of 24 hours...) or text left over.
std::optional<MetadataDateFields> ParseMetadataDate(std::u16string_view text);

// The date as ISO 8601 writes it, in full whatever the text left out: 2023-01-15T10:30:00+02:00,
// Z for UTC, no offset for a date without a zone, and a fraction of a second only when there is
// one (its trailing zeros dropped).
std::string FormatIsoDate(const MetadataDateFields &fields);

// The UTC FILETIME of a date that ParseMetadataDate reads. A date with a zone is converted
// arithmetically, the same on every platform. One without is taken as local time of the
// machine's current zone, with its daylight saving rule for that date (Windows:
// TzSpecificLocalTimeToSystemTime; elsewhere mktime), the fraction added afterwards. No date
// when the text is not one, or names an instant before 1601-01-01 00:00 UTC (a zone-less date
// before 1601 included, which SYSTEMTIME can't hold).
std::optional<FileTime> ConvertMetadataDate(std::u16string_view text);

} // namespace vellumtag
