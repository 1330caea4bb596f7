#include "metadata/MetadataDate.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <ctime>
#endif

namespace vellumtag {

namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool isBlank(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

bool nextIs(std::u16string_view text, std::size_t pos, char16_t c) {
    return pos < text.size() && text[pos] == c;
}

bool nextIsDigit(std::u16string_view text, std::size_t pos) {
    return pos < text.size() && isDigit(text[pos]);
}

// Takes c at pos, if it is there.
bool take(std::u16string_view text, std::size_t &pos, char16_t c) {
    if (!nextIs(text, pos, c))
        return false;
    ++pos;
    return true;
}

// Reads exactly `width` digits at pos into field; false, with field untouched, when fewer
// are there.
bool readNumber(std::u16string_view text, std::size_t &pos, std::size_t width, int &field) {
    if (text.size() - pos < width)
        return false;
    int value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        if (!isDigit(text[pos + i]))
            return false;
        value = value * 10 + (text[pos + i] - u'0');
    }
    pos += width;
    field = value;
    return true;
}

// A zone's offset in minutes, if the hours and minutes are in range.
std::optional<int> offset(bool negative, int hours, int minutes) {
    if (hours > 23 || minutes > 59)
        return std::nullopt;
    const int total = hours * 60 + minutes;
    return negative ? -total : total;
}

// A PDF zone after its O: [HH[']][mm[']], both parts defaulting to 0.
std::optional<int> pdfZone(std::u16string_view text, std::size_t &pos, bool negative) {
    int hours = 0, minutes = 0;
    if (nextIsDigit(text, pos)) {
        if (!readNumber(text, pos, 2, hours))
            return std::nullopt;
        take(text, pos, u'\'');
        if (nextIsDigit(text, pos)) {
            if (!readNumber(text, pos, 2, minutes))
                return std::nullopt;
            take(text, pos, u'\'');
        }
    }
    return offset(negative, hours, minutes);
}

// The PDF fields after the year: MM DD HH mm SS, each present only when the one before is,
// then a zone after a full time.
bool parsePdfRest(std::u16string_view text, std::size_t &pos, MetadataDateFields &fields) {
    int *const rest[] = {&fields.month, &fields.day, &fields.hour, &fields.minute, &fields.second};
    for (int *field : rest) {
        if (!nextIsDigit(text, pos))
            return true;
        if (!readNumber(text, pos, 2, *field))
            return false;
    }
    if (take(text, pos, u'Z')) {
        // Z with a zero offset after it is still UTC; any other offset contradicts it.
        fields.zoneMinutes = pdfZone(text, pos, false);
        return fields.zoneMinutes == 0;
    }
    if (nextIs(text, pos, u'+') || nextIs(text, pos, u'-')) {
        const bool negative = text[pos++] == u'-';
        fields.zoneMinutes = pdfZone(text, pos, negative);
        return fields.zoneMinutes.has_value();
    }
    return true;
}

// The XMP fields after the year: -MM[-DD[Thh:mm[:ss[.s+]][TZD]]].
bool parseXmpRest(std::u16string_view text, std::size_t &pos, MetadataDateFields &fields) {
    if (!take(text, pos, u'-'))
        return true;
    if (!readNumber(text, pos, 2, fields.month))
        return false;
    if (!take(text, pos, u'-'))
        return true;
    if (!readNumber(text, pos, 2, fields.day))
        return false;
    if (!take(text, pos, u'T'))
        return true;
    if (!readNumber(text, pos, 2, fields.hour) || !take(text, pos, u':') ||
        !readNumber(text, pos, 2, fields.minute))
        return false;
    if (take(text, pos, u':')) {
        if (!readNumber(text, pos, 2, fields.second))
            return false;
        if (take(text, pos, u'.')) {
            if (!nextIsDigit(text, pos))
                return false;
            int scale = 1'000'000; // the first digit's ticks
            for (; nextIsDigit(text, pos); ++pos) {
                fields.ticks += (text[pos] - u'0') * scale;
                scale /= 10;
            }
        }
    }
    if (take(text, pos, u'Z')) {
        fields.zoneMinutes = 0;
        return true;
    }
    if (nextIs(text, pos, u'+') || nextIs(text, pos, u'-')) {
        const bool negative = text[pos++] == u'-';
        int hours = 0, minutes = 0;
        if (!readNumber(text, pos, 2, hours) || !take(text, pos, u':') ||
            !readNumber(text, pos, 2, minutes))
            return false;
        fields.zoneMinutes = offset(negative, hours, minutes);
        return fields.zoneMinutes.has_value();
    }
    return true;
}

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
    constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

bool isValid(const MetadataDateFields &f) {
    return f.month >= 1 && f.month <= 12 && f.day >= 1 && f.day <= daysInMonth(f.year, f.month) &&
           f.hour < 24 && f.minute < 60 && f.second < 60;
}

// Days from 1601-01-01 to a date of 1600 or later, counted from 1600, the first year of a
// 400-year cycle (and a leap year).
std::int64_t daysSince1601(int year, int month, int day) {
    constexpr int kDaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    const std::int64_t years = year - 1600;
    const std::int64_t leapYears = (years + 3) / 4 - (years + 99) / 100 + (years + 399) / 400;
    const int leapDay = month > 2 && isLeapYear(year) ? 1 : 0;
    return years * 365 + leapYears + kDaysBeforeMonth[month - 1] + leapDay + day - 1 - 366;
}

std::optional<FileTime> zonedToFileTime(const MetadataDateFields &f) {
    // No offset (at most 23:59) brings a date before 1600 into 1601.
    if (f.year < 1600)
        return std::nullopt;
    const std::int64_t seconds = daysSince1601(f.year, f.month, f.day) * 86400 + f.hour * 3600 +
                                 (f.minute - *f.zoneMinutes) * 60 + f.second;
    if (seconds < 0)
        return std::nullopt;
    return static_cast<FileTime>(seconds * kTicksPerSecond + f.ticks);
}

#ifdef _WIN32

std::optional<FileTime> localToFileTime(const MetadataDateFields &f) {
    SYSTEMTIME local{};
    local.wYear = static_cast<WORD>(f.year);
    local.wMonth = static_cast<WORD>(f.month);
    local.wDay = static_cast<WORD>(f.day);
    local.wHour = static_cast<WORD>(f.hour);
    local.wMinute = static_cast<WORD>(f.minute);
    local.wSecond = static_cast<WORD>(f.second);
    SYSTEMTIME utc{};
    FILETIME result{};
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) ||
        !SystemTimeToFileTime(&utc, &result))
        return std::nullopt;
    return ((static_cast<FileTime>(result.dwHighDateTime) << 32) | result.dwLowDateTime) +
           static_cast<FileTime>(f.ticks);
}

#else

std::optional<FileTime> localToFileTime(const MetadataDateFields &f) {
    constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;
    std::tm local{};
    local.tm_year = f.year - 1900;
    local.tm_mon = f.month - 1;
    local.tm_mday = f.day;
    local.tm_hour = f.hour;
    local.tm_min = f.minute;
    local.tm_sec = f.second;
    local.tm_isdst = -1;
    // -1 is also the result for one second before 1970, and errno may be left set by the
    // zone lookup: only a successful call fills in the weekday.
    local.tm_wday = -1;
    const std::time_t utc = std::mktime(&local);
    if (local.tm_wday < 0)
        return std::nullopt;
    const std::int64_t since1601 = static_cast<std::int64_t>(utc) + kSecondsFrom1601To1970;
    if (since1601 < 0)
        return std::nullopt;
    return static_cast<FileTime>(since1601 * kTicksPerSecond + f.ticks);
}

#endif

} // namespace

std::optional<MetadataDateFields> ParseMetadataDate(std::u16string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    std::size_t pos = 0;
    const bool prefixed = text.substr(0, 2) == u"D:";
    if (prefixed)
        pos = 2;
    MetadataDateFields fields;
    if (!readNumber(text, pos, 4, fields.year))
        return std::nullopt;
    // A bare year reads the same in both forms; a hyphen after it starts an XMP date.
    const bool read = !prefixed && nextIs(text, pos, u'-') ? parseXmpRest(text, pos, fields)
                                                           : parsePdfRest(text, pos, fields);
    if (!read || pos != text.size() || !isValid(fields))
        return std::nullopt;
    return fields;
}

std::string FormatIsoDate(const MetadataDateFields &fields) {
    char text[40];
    int length = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", fields.year,
                               fields.month, fields.day, fields.hour, fields.minute, fields.second);
    std::string out(text, static_cast<std::size_t>(length));
    if (fields.ticks != 0) {
        length = std::snprintf(text, sizeof text, ".%07d", fields.ticks);
        out.append(text, static_cast<std::size_t>(length));
        out.erase(out.find_last_not_of('0') + 1);
    }
    if (fields.zoneMinutes == 0) {
        out.push_back('Z');
    } else if (fields.zoneMinutes) {
        const int minutes = *fields.zoneMinutes < 0 ? -*fields.zoneMinutes : *fields.zoneMinutes;
        length = std::snprintf(text, sizeof text, "%c%02d:%02d",
                               *fields.zoneMinutes < 0 ? '-' : '+', minutes / 60, minutes % 60);
        out.append(text, static_cast<std::size_t>(length));
    }
    return out;
}

std::optional<FileTime> ConvertMetadataDate(std::u16string_view text) {
    const auto fields = ParseMetadataDate(text);
    if (!fields)
        return std::nullopt;
    if (fields->zoneMinutes)
        return zonedToFileTime(*fields);
    // SYSTEMTIME starts at 1601, so Windows can't place an earlier local time; refused on
    // every platform alike.
    if (fields->year < 1601)
        return std::nullopt;
    return localToFileTime(*fields);
}

} // namespace vellumtag
