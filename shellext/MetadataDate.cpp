#include "MetadataDate.h"

#include <array>

#ifdef _WIN32
#include <windows.h>
#else
#include <ctime>
#endif

namespace vellumtag {

namespace {

struct CalendarTime {
    std::uint16_t year, month, day, hour, minute, second;
};

constexpr std::size_t kFieldCount = 6;

// In a pattern, a digit N stands for one "%Nhu" conversion; every other character must match
// the text exactly. Returns how many fields were assigned before the first mismatch.
std::size_t scanFields(std::u16string_view text, std::u16string_view pattern,
                       std::array<std::uint16_t, kFieldCount> &fields) {
    std::size_t pos = 0, assigned = 0;
    for (const char16_t p : pattern) {
        if (p < u'0' || p > u'9') {
            if (pos >= text.size() || text[pos] != p)
                return assigned;
            ++pos;
            continue;
        }
        // Leading blanks are skipped outside the width; a sign counts towards it.
        while (pos < text.size() &&
               (text[pos] == u' ' || (text[pos] >= u'\t' && text[pos] <= u'\r')))
            ++pos;
        const std::size_t width = static_cast<std::size_t>(p - u'0');
        std::size_t used = 0;
        bool negative = false;
        if (pos < text.size() && (text[pos] == u'+' || text[pos] == u'-')) {
            negative = text[pos] == u'-';
            ++pos;
            ++used;
        }
        std::uint32_t value = 0;
        std::size_t digits = 0;
        while (used < width && pos < text.size() && text[pos] >= u'0' && text[pos] <= u'9') {
            value = value * 10 + static_cast<std::uint32_t>(text[pos] - u'0');
            ++pos;
            ++used;
            ++digits;
        }
        if (digits == 0)
            return assigned;
        // A negative number wraps around as the conversion to unsigned short does.
        fields[assigned++] = static_cast<std::uint16_t>(negative ? 0u - value : value);
    }
    return assigned;
}

bool isLeapYear(unsigned year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned daysInMonth(unsigned year, unsigned month) {
    constexpr unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// What SystemTimeToFileTime accepts. Checked on every platform, before any zone conversion,
// since Wine's conversion lets 29 February through in every year.
bool isValid(const CalendarTime &t) {
    return t.year >= 1601 && t.year <= 30827 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
           t.day <= daysInMonth(t.year, t.month) && t.hour < 24 && t.minute < 60 && t.second < 60;
}

#ifdef _WIN32

std::optional<FileTime> localToFileTime(const CalendarTime &t) {
    SYSTEMTIME local{};
    local.wYear = t.year;
    local.wMonth = t.month;
    local.wDay = t.day;
    local.wHour = t.hour;
    local.wMinute = t.minute;
    local.wSecond = t.second;
    SYSTEMTIME utc{};
    FILETIME result{};
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) ||
        !SystemTimeToFileTime(&utc, &result))
        return std::nullopt;
    return (static_cast<FileTime>(result.dwHighDateTime) << 32) | result.dwLowDateTime;
}

#else

std::optional<FileTime> localToFileTime(const CalendarTime &t) {
    constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;
    constexpr FileTime kTicksPerSecond = 10'000'000;
    std::tm local{};
    local.tm_year = t.year - 1900;
    local.tm_mon = t.month - 1;
    local.tm_mday = t.day;
    local.tm_hour = t.hour;
    local.tm_min = t.minute;
    local.tm_sec = t.second;
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
    return static_cast<FileTime>(since1601) * kTicksPerSecond;
}

#endif

} // namespace

std::optional<FileTime> ConvertMetadataDate(std::u16string_view text) {
    std::array<std::uint16_t, kFieldCount> fields{};
    if (scanFields(text, u"D:422222", fields) < kFieldCount &&
        scanFields(text, u"4-2-2T2:2:2", fields) < kFieldCount)
        return std::nullopt;
    const CalendarTime local{fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]};
    if (!isValid(local))
        return std::nullopt;
    return localToFileTime(local);
}

} // namespace vellumtag
