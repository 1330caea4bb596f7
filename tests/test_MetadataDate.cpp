#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <ostream>
#include <string>

#include "metadata/MetadataDate.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace vellumtag {

void PrintTo(const MetadataDateFields &f, std::ostream *out) {
    *out << f.year << '-' << f.month << '-' << f.day << ' ' << f.hour << ':' << f.minute << ':'
         << f.second << '+' << f.ticks << " ticks, zone ";
    if (f.zoneMinutes)
        *out << *f.zoneMinutes << " min";
    else
        *out << "local";
}

} // namespace vellumtag

using namespace vellumtag;

namespace {

// Zone-less dates read in Central European time, with summer time from the last Sunday of
// March to the last Sunday of October. On Windows the zone comes from the environment Wine
// was started with (the test's CTest properties); elsewhere the fixture sets it.
constexpr const char *kZone = VELLUMTAG_TEST_ZONE;

class MetadataDate : public ::testing::Test {
protected:
#ifdef _WIN32
    void SetUp() override {
        TIME_ZONE_INFORMATION zone{};
        GetTimeZoneInformation(&zone);
        ASSERT_TRUE(zone.Bias == -60 && zone.DaylightBias == -60)
            << "run with TZ=" << kZone << " in Wine's environment";
    }
#else
    void SetUp() override {
        const char *old = std::getenv("TZ");
        _oldZone = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
        setenv("TZ", kZone, 1);
        tzset();
    }
    void TearDown() override {
        if (_oldZone)
            setenv("TZ", _oldZone->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> _oldZone;
#endif
};

std::string printable(std::u16string_view text) {
    std::string out;
    for (const char16_t c : text)
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

// The FILETIME of a UTC calendar time, counted independently of the code under test.
FileTime utc(int year, unsigned month, unsigned day, unsigned hour, unsigned minute,
             unsigned second, FileTime ticks = 0) {
    // Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's days_from_civil).
    year -= month <= 2;
    const int era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const long long days = era * 146097LL + dayOfEra - 719468;
    const long long seconds = days * 86400 + hour * 3600 + minute * 60 + second;
    return static_cast<FileTime>(seconds + 11'644'473'600LL) * 10'000'000 + ticks;
}

struct DateCase {
    std::u16string_view text;
    FileTime expected;
};

void expectDates(std::initializer_list<DateCase> cases) {
    for (const auto &c : cases) {
        const auto result = ConvertMetadataDate(c.text);
        ASSERT_TRUE(result.has_value()) << printable(c.text);
        EXPECT_EQ(*result, c.expected) << printable(c.text);
    }
}

TEST_F(MetadataDate, ZonedDatesAreTheInstantTheyName) {
    const FileTime instant = utc(2023, 1, 15, 8, 30, 0);
    expectDates({
        {u"D:20230115103000+02'00'", instant},
        {u"D:20230115083000Z", instant},
        {u"2023-01-15T10:30:00+02:00", instant},
        {u"2023-01-15T08:30Z", instant},
        {u"D:20230115033000-05'00'", instant},
        {u"2023-01-15T03:30:00-05:00", instant},
        {u"D:20230115140000+05'30'", instant},
        // What writers produce besides the standard's form.
        {u"20230115103000+02'00'", instant},
        {u"D:20230115103000+0200", instant},
        {u"D:20230115103000+02'00", instant},
        {u"D:20230115103000+02", instant},
        {u"D:20230115103000+02'", instant},
        {u"D:20230115083000Z00'00'", instant},
        {u"D:20230115083000Z0000", instant},
        {u"D:20230115083000+", instant}, // O alone: the offset's fields default to 0
        {u"D:20230115083000-00'00'", instant},
        {u" \t D:20230115103000+02'00'\r\n", instant},
        // Into the day before or after, across a year's end and around a leap day.
        {u"D:20230115010000+02'00'", utc(2023, 1, 14, 23, 0, 0)},
        {u"2023-01-15T22:00:00-05:00", utc(2023, 1, 16, 3, 0, 0)},
        {u"D:20230101003000+01'00'", utc(2022, 12, 31, 23, 30, 0)},
        {u"2022-12-31T23:30:00-00:30", utc(2023, 1, 1, 0, 0, 0)},
        {u"2024-02-29T23:00:00-02:00", utc(2024, 3, 1, 1, 0, 0)},
        {u"D:20240301003000+01'00'", utc(2024, 2, 29, 23, 30, 0)},
        {u"D:21000301003000+01'00'", utc(2100, 2, 28, 23, 30, 0)},
        {u"D:20000301003000+01'00'", utc(2000, 2, 29, 23, 30, 0)},
        {u"D:20230115235900+23'59'", utc(2023, 1, 15, 0, 0, 0)},
        {u"2023-01-15T00:00:00-23:59", utc(2023, 1, 15, 23, 59, 0)},
        // Fractions, to 100 ns.
        {u"2023-01-15T08:30:00.5Z", instant + 5'000'000},
        {u"2023-01-15T08:30:00.1234567Z", instant + 1'234'567},
        {u"2023-01-15T08:30:00.123456789Z", instant + 1'234'567},
        {u"2023-01-15T08:30:00.00000009Z", instant},
        // The ends of the range.
        {u"D:16010101000000Z", 0},
        {u"1601-01-01T01:00:00+01:00", 0},
        {u"1600-12-31T23:00:00-01:00", 0},
        {u"D:99991231235959Z", utc(9999, 12, 31, 23, 59, 59)},
        {u"9999-12-31T23:59:59.9999999-23:59", utc(10000, 1, 1, 23, 58, 59, 9'999'999)},
    });
}

TEST_F(MetadataDate, ZoneLessDatesAreLocalTime) {
    expectDates({
        {u"D:20261208120000", utc(2026, 12, 8, 11, 0, 0)},
        {u"2026-12-08T12:00:00", utc(2026, 12, 8, 11, 0, 0)},
        {u"2026-12-08T12:00", utc(2026, 12, 8, 11, 0, 0)},
        {u"D:20260701120000", utc(2026, 7, 1, 10, 0, 0)}, // summer time: two hours ahead
        {u"2026-07-01T12:00:00.25", utc(2026, 7, 1, 10, 0, 0, 2'500'000)},
        // Partial dates: midnight local time of the first month or day.
        {u"D:2023", utc(2022, 12, 31, 23, 0, 0)},
        {u"2023", utc(2022, 12, 31, 23, 0, 0)},
        {u"D:202607", utc(2026, 6, 30, 22, 0, 0)},
        {u"2026-07", utc(2026, 6, 30, 22, 0, 0)},
        {u"D:20260701", utc(2026, 6, 30, 22, 0, 0)},
        {u"2026-07-01", utc(2026, 6, 30, 22, 0, 0)},
        {u"D:2026070112", utc(2026, 7, 1, 10, 0, 0)},
        {u"D:202607011230", utc(2026, 7, 1, 10, 30, 0)},
        // Either side of the change to summer time and back.
        {u"2026-03-29T01:59:59", utc(2026, 3, 29, 0, 59, 59)},
        {u"2026-03-29T03:00:00", utc(2026, 3, 29, 1, 0, 0)},
        {u"2026-10-25T01:59:59", utc(2026, 10, 24, 23, 59, 59)},
        {u"2026-10-25T03:00:00", utc(2026, 10, 25, 2, 0, 0)},
        {u"D:20240229000000", utc(2024, 2, 28, 23, 0, 0)},
        {u"1970-01-01T01:00:00", utc(1970, 1, 1, 0, 0, 0)},   // the C library's epoch
        {u"D:19700101005959", utc(1969, 12, 31, 23, 59, 59)}, // and the second before it
        {u"D:16010101010000", 0},
        {u"D:99991231235959", utc(9999, 12, 31, 22, 59, 59)},
    });
}

// Fields as a table writes them; those left out at the defaults ParseMetadataDate gives.
MetadataDateFields fields(int year, int month = 1, int day = 1, int hour = 0, int minute = 0,
                          int second = 0, int ticks = 0, std::optional<int> zone = {}) {
    MetadataDateFields f;
    f.year = year;
    f.month = month;
    f.day = day;
    f.hour = hour;
    f.minute = minute;
    f.second = second;
    f.ticks = ticks;
    f.zoneMinutes = zone;
    return f;
}

TEST_F(MetadataDate, FieldsAndTheirDefaults) {
    struct Case {
        std::u16string_view text;
        MetadataDateFields expected;
    };
    const Case cases[] = {
        {u"D:2023", fields(2023)},
        {u"D:202305", fields(2023, 5)},
        {u"D:20230515", fields(2023, 5, 15)},
        {u"D:2023051510", fields(2023, 5, 15, 10)},
        {u"D:202305151030", fields(2023, 5, 15, 10, 30)},
        {u"D:20230515103045", fields(2023, 5, 15, 10, 30, 45)},
        {u"202305", fields(2023, 5)},
        {u"2023", fields(2023)},
        {u"2023-05", fields(2023, 5)},
        {u"2023-05-15", fields(2023, 5, 15)},
        {u"2023-05-15T10:30", fields(2023, 5, 15, 10, 30)},
        {u"2023-05-15T10:30:45", fields(2023, 5, 15, 10, 30, 45)},
        {u"2023-05-15T10:30:45.5", fields(2023, 5, 15, 10, 30, 45, 5'000'000)},
        {u"2023-05-15T10:30:45.0000001", fields(2023, 5, 15, 10, 30, 45, 1)},
        {u"2023-05-15T10:30+02:00", fields(2023, 5, 15, 10, 30, 0, 0, 120)},
        {u"2023-05-15T10:30:45-05:30", fields(2023, 5, 15, 10, 30, 45, 0, -330)},
        {u"2023-05-15T10:30Z", fields(2023, 5, 15, 10, 30, 0, 0, 0)},
        {u"D:20230515103045-05'30'", fields(2023, 5, 15, 10, 30, 45, 0, -330)},
        {u"D:20230515103045Z", fields(2023, 5, 15, 10, 30, 45, 0, 0)},
        {u"D:20230515103045-", fields(2023, 5, 15, 10, 30, 45, 0, 0)},
        // Fields that only the conversion refuses: before 1601.
        {u"D:0000", fields(0)},
        {u"0000-02-29", fields(0, 2, 29)},
    };
    for (const auto &c : cases) {
        const auto parsed = ParseMetadataDate(c.text);
        ASSERT_TRUE(parsed.has_value()) << printable(c.text);
        EXPECT_EQ(*parsed, c.expected) << printable(c.text);
    }
}

TEST_F(MetadataDate, NoDateForInvalidFieldsOrText) {
    const std::u16string_view cases[] = {
        // A field out of range.
        u"D:20231315",
        u"2023-13",
        u"D:20230015",
        u"2023-00-15",
        u"D:20230100",
        u"2023-01-00",
        u"D:20230231",
        u"2023-02-29",
        u"D:21000229",
        u"2023-04-31",
        u"D:2023011524",
        u"2023-01-15T24:00",
        u"D:202301151060",
        u"2023-01-15T10:60",
        u"D:20230115103060",
        u"2023-01-15T10:30:60",
        u"D:20230115103000+24'00'",
        u"D:20230115103000-02'60'",
        u"2023-01-15T10:30+24:00",
        u"2023-01-15T10:30-00:60",
        // Too few digits, or too many.
        u"",
        u" ",
        u"D:",
        u"D:202",
        u"202",
        u"D:2023011",
        u"D:202301151",
        u"D:2023011510300",
        u"2023-1-15",
        u"2023-01-5",
        u"2023-01-15T1:30",
        u"2023-01-15T10:3",
        u"2023-01-15T10:30:0",
        u"2023-01-15T10:30:00.",
        u"D:20230115103000+2",
        u"D:20230115103000+02'0",
        u"D:20230115103000+02'003",
        u"2023-01-15T10:30+02:0",
        u"20230",
        u"2023-01-15T10:30:005",
        // A zone after a partial time, or one XMP doesn't write.
        u"D:2023011510+02'00'",
        u"D:202301151030Z",
        u"D:20230115Z",
        u"2023-01-15Z",
        u"2023-01-15+02:00",
        u"2023-01-15T10+02:00",
        u"2023-01-15T10:30+0200",
        u"2023-01-15T10:30+02",
        u"2023-01-15T10:30:00+",
        u"2023-01-15T10:30:00Z00:00",
        u"D:20230115083000Z01'00'",
        u"D:20230115083000Z00'30'",
        // Text left over, or between the fields.
        u"D:20261208120000 trailing text",
        u"2023-01-15T10:30:00+02:00junk",
        u"D:20230115103000+02'00''",
        u"D:20230115103000+02''00",
        u"D:20230115103000.5",
        u"2023-01-15T10:30.5",
        u"2023-01-15T10",
        u"2023-01-15T",
        u"2023-01-15 10:30:00",
        u"D:2026 1 8 9 5 7",
        u"D: 2023",
        u"D:2023-01-15",
        u"2023-0115",
        u"202301-15",
        u"+2023",
        u"-2023",
        std::u16string_view(u"D:20230115\0", 11),
        u"DD:2023",
        u"D:D:2023",
        u"\uFF12\uFF10\uFF12\uFF13", // fullwidth digits
        // Letters are case-sensitive.
        u"d:20230115",
        u"2023-01-15t10:30",
        u"D:20230115103000z",
        u"2023-01-15T10:30:00z",
    };
    for (const auto text : cases) {
        EXPECT_FALSE(ParseMetadataDate(text).has_value()) << printable(text);
        EXPECT_FALSE(ConvertMetadataDate(text).has_value()) << printable(text);
    }
}

TEST_F(MetadataDate, NoDateBefore1601) {
    const std::u16string_view cases[] = {
        u"D:1600",
        u"D:0000",
        u"D:16001231235959Z",
        u"1601-01-01T00:30:00+01:00",
        u"1601-01-01T00:00:00.9999999+00:01",
        u"D:16010101000000",    // 1601 local, but still 1600 in UTC
        u"1600-12-31T23:59:59", // local time in 1600, whatever the zone
    };
    for (const auto text : cases) {
        EXPECT_TRUE(ParseMetadataDate(text).has_value()) << printable(text);
        EXPECT_FALSE(ConvertMetadataDate(text).has_value()) << printable(text);
    }
}

// ISO 8601 in full, the zone as written: Z for UTC, none for a local date, the fraction only
// where there is one.
TEST_F(MetadataDate, FormattedAsIso8601) {
    const std::pair<std::u16string_view, const char *> cases[] = {
        {u"D:20230115103000+02'00'", "2023-01-15T10:30:00+02:00"},
        {u"D:20230115103000-05'30", "2023-01-15T10:30:00-05:30"},
        {u"D:20230115103000Z", "2023-01-15T10:30:00Z"},
        {u"D:2023", "2023-01-01T00:00:00"},
        {u"2023-01-15T10:30Z", "2023-01-15T10:30:00Z"},
        {u"2023-01-15T10:30:00.1250+00:00", "2023-01-15T10:30:00.125Z"},
        {u"2023-01-15T10:30:00.0000001-00:01", "2023-01-15T10:30:00.0000001-00:01"},
    };
    for (const auto &[text, iso] : cases) {
        const auto fields = ParseMetadataDate(text);
        ASSERT_TRUE(fields.has_value()) << iso;
        EXPECT_EQ(FormatIsoDate(*fields), iso);
    }
}

} // namespace
