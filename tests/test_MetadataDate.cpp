#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "MetadataDate.h"

#ifdef _WIN32
#include <windows.h>
#endif

using namespace vellumtag;

namespace {

// Every case below reads in Central European time, with summer time from the last Sunday of
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
             unsigned second) {
    // Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's days_from_civil).
    year -= month <= 2;
    const int era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const long long days = era * 146097LL + dayOfEra - 719468;
    const long long seconds = days * 86400 + hour * 3600 + minute * 60 + second;
    return static_cast<FileTime>(seconds + 11'644'473'600LL) * 10'000'000;
}

TEST_F(MetadataDate, BothFormsTakenAsLocalTimeWhateverTheirZone) {
    struct Case {
        std::u16string_view text;
        FileTime expected;
    };
    const FileTime winterNoon = utc(2026, 12, 8, 11, 0, 0), summerNoon = utc(2026, 7, 1, 10, 0, 0);
    const Case cases[] = {
        {u"D:20261208120000", winterNoon},
        {u"D:20261208120000+01'00'", winterNoon},
        {u"D:20261208120000-08'00'", winterNoon},
        {u"D:20261208120000Z", winterNoon},
        {u"2026-12-08T12:00:00", winterNoon},
        {u"2026-12-08T12:00:00+05:30", winterNoon},
        {u"2026-12-08T12:00:00.250Z", winterNoon}, // fractions ignored as well
        {u"D:20260701120000+00'00'", summerNoon},  // summer time: two hours ahead of UTC
        {u"2026-07-01T12:00:00-07:00", summerNoon},
        {u"D:20261208120000 trailing text", winterNoon},
        // Each field is scanned as "%2hu" is: blanks before it are skipped.
        {u"D:2026 1 8 9 5 7", utc(2026, 1, 8, 8, 5, 7)},
        {u"D:20240229000000", utc(2024, 2, 28, 23, 0, 0)}, // leap day, back into February
        {u"D:20000229120000", utc(2000, 2, 29, 11, 0, 0)},
        {u"D:16010101120000", utc(1601, 1, 1, 11, 0, 0)},
        {u"D:99991231235959", utc(9999, 12, 31, 22, 59, 59)},
        {u"1970-01-01T01:00:00", 11'644'473'600ULL * 10'000'000}, // the C library's epoch
        {u"D:19700101005959", utc(1969, 12, 31, 23, 59, 59)},     // and the second before it
    };
    for (const auto &c : cases) {
        const auto result = ConvertMetadataDate(c.text);
        ASSERT_TRUE(result.has_value()) << printable(c.text);
        EXPECT_EQ(*result, c.expected) << printable(c.text);
    }
}

TEST_F(MetadataDate, NoDateForFewerFieldsOrTimesWindowsRefuses) {
    const std::u16string_view cases[] = {
        u"",
        u"D:20261208",       // year, month and day only
        u"D:202612081200",   // no seconds
        u"2026-12-08",       // XMP date without a time
        u"2026-12-08T12:00", // XMP time without seconds
        u"d:20261208120000", // the prefix is case-sensitive
        u"20261208120000",   // PDF digits without the prefix
        u"D:2026-12-08T12:00:00",
        u"D:20261308120000", // month 13
        u"D:20260008120000", // month 0
        u"D:20261200120000", // day 0
        u"D:20260231120000", // 31 February
        u"D:20250229120000", // 29 February of a common year
        u"D:21000229120000", // 2100 is not a leap year
        u"D:20260431120000", // 31 April
        u"D:20261208240000", // hour 24
        u"D:20261208126000", // minute 60
        u"D:20261208120060", // second 60
        u"D:16001231235959", // before 1601
        u"D:16010101000000", // 1601 local, but still 1600 in UTC
        u"D:2026-1-8120000", // a negative month wraps around to 65535
        u"D:+2026120812000", // the sign counts towards the year's width: year 202
        u"2026-13-08T12:00:00",
        u"2026-12-08T25:00:00",
    };
    for (const auto text : cases)
        EXPECT_FALSE(ConvertMetadataDate(text).has_value()) << printable(text);
}

} // namespace
