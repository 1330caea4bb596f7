#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellumtag {

// Layout-compatible with the Windows GUID, so the table needs no Windows header.
struct Guid {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];

    bool operator==(const Guid &) const = default;
};

// A shell property key: format identifier and property identifier (PROPERTYKEY).
struct PropertyKey {
    Guid formatId;
    std::uint32_t propertyId;

    bool operator==(const PropertyKey &) const = default;
};

// The value types a row can declare, each the type of the property in the shell's schema; the
// numbers are the VARTYPE codes.
enum class DeclaredType : std::uint16_t {
    Integer = 3,     // VT_I4: the text is a decimal count
    Date = 7,        // VT_DATE: the text is a date and becomes a FILETIME
    StarRating = 19, // VT_UI4: the text is an xmp:Rating of stars, stored as RatingPercent gives it
    Text = 31,       // VT_LPWSTR: the text as it is
    TextList = 4127, // VT_VECTOR | VT_LPWSTR: the text is a list separated by ';'
};

struct PropertyRow {
    std::string_view infoKey;       // key in the document's metadata, or of a fact or XMP property
    std::string_view canonicalName; // the shell's name of the property
    PropertyKey key;
    DeclaredType type;
    std::string_view fallbackKey; // the key read when infoKey gives nothing; empty: none
};

// The property sets the twelve properties belong to (FMTID_SummaryInformation,
// FMTID_DocSummaryInformation and the version-information set).
inline constexpr Guid kSummaryInformation = {
    0xF29F85E0, 0x4FF9, 0x1068, {0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9}};
inline constexpr Guid kDocSummaryInformation = {
    0xD5CDD502, 0x2E9C, 0x101B, {0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE}};
inline constexpr Guid kVersionInformation = {
    0x0CEF7D53, 0xFA64, 0x11D1, {0xA2, 0x03, 0x00, 0x00, 0xF8, 0x1F, 0xED, 0xEE}};
// FMTID_MediaFileSummaryInformation, the set of System.Copyright and System.Rating.
inline constexpr Guid kMediaFileSummaryInformation = {
    0x64440492, 0x4C8B, 0x11D1, {0x8B, 0x70, 0x08, 0x00, 0x36, 0xB1, 0x1A, 0x03}};

// The properties the handler serves, in the order it stores them, each in the type the shell's
// schema gives it (System.Author and System.Keywords are multi-valued strings,
// System.Document.PageCount an Int32, System.Rating a UInt32), so that Explorer sorts and Windows
// Search compares them as what they are. The first kInfoProperties come from the metadata
// values; the others from the document facts and the XMP packet, under the keys the console
// tool's --details and --xmp print: the catalog's /Lang, else dc:language; dc:rights, else
// xmpRights:UsageTerms; xmp:Rating.
inline constexpr std::array<PropertyRow, 15> kPropertyTable = {{
    {"Title", "System.Title", {kSummaryInformation, 2}, DeclaredType::Text, {}},
    {"Author", "System.Author", {kSummaryInformation, 4}, DeclaredType::TextList, {}},
    {"Category", "System.Category", {kDocSummaryInformation, 2}, DeclaredType::Text, {}},
    {"Comments", "System.Comment", {kSummaryInformation, 6}, DeclaredType::Text, {}},
    {"Company", "System.Company", {kDocSummaryInformation, 15}, DeclaredType::Text, {}},
    {"Subject", "System.Subject", {kSummaryInformation, 3}, DeclaredType::Text, {}},
    {"Keywords", "System.Keywords", {kSummaryInformation, 5}, DeclaredType::TextList, {}},
    {"Producer", "System.ApplicationName", {kSummaryInformation, 18}, DeclaredType::Text, {}},
    {"Creator", "System.Software.ProductName", {kVersionInformation, 7}, DeclaredType::Text, {}},
    {"PageCount",
     "System.Document.PageCount",
     {kSummaryInformation, 14},
     DeclaredType::Integer,
     {}},
    {"CreationDate",
     "System.Document.DateCreated",
     {kSummaryInformation, 12},
     DeclaredType::Date,
     {}},
    {"ModDate", "System.Document.DateSaved", {kSummaryInformation, 13}, DeclaredType::Date, {}},
    {"PDF:Language",
     "System.Language",
     {kDocSummaryInformation, 28},
     DeclaredType::Text,
     "XMP-dc:Language"},
    {"XMP-dc:Rights",
     "System.Copyright",
     {kMediaFileSummaryInformation, 11},
     DeclaredType::Text,
     "XMP-xmpRights:UsageTerms"},
    {"XMP-xmp:Rating",
     "System.Rating",
     {kMediaFileSummaryInformation, 9},
     DeclaredType::StarRating,
     {}},
}};
// The rows read from the metadata values alone, which the console tool's CSV has as columns.
inline constexpr std::size_t kInfoProperties = 12;

// True when the path ends in ".pdf" in any mix of ASCII letter case; only ASCII capitals
// are folded, as the C locale does.
bool HasPdfExtension(std::u16string_view path);

// The items of a list such as "Ann Smith; Bob Jones", split at ';', each trimmed of white space,
// empty items left out.
std::vector<std::u16string> SplitList(std::u16string_view text);

// An xmp:Rating of 1 to 5 stars on the scale Windows stores System.Rating in (1, 25, 50, 75,
// 99); nothing for 0 (no rating), -1 (rejected) or any other text.
std::optional<std::uint32_t> RatingPercent(std::u16string_view text);

// A count written in decimal ASCII digits, trimmed of white space, that fits in 32 signed bits;
// nothing for any other text.
std::optional<std::int32_t> ParseCount(std::u16string_view text);

} // namespace vellumtag
