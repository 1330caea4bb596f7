#include <gtest/gtest.h>

#include <string>
#include <vector>
#include <zlib.h>

#include "PDFDocument.h"
#include "TestSupport.h"
#include "objects/ObjectReader.h"
#include "syntax/Limits.h"

using namespace vellumtag;
using vellumtag::test::PdfBuilder;
using vellumtag::test::Reading;

namespace {

using Objects = std::vector<std::pair<std::uint32_t, std::string>>;

// Catalog, information dictionary and page tree root first, then `fillers` objects of text that
// deflates to about a third, then object `last`: how writers that put the document's own
// objects first fill an object stream.
Objects documentObjects(std::uint32_t fillers, std::uint32_t last) {
    Objects objects = {{1, "<< /Type /Catalog /Pages 3 0 R >>"},
                       {2, "<< /Title (Read before the damage) /Author (Vellumtag Team) >>"},
                       {3, "<< /Type /Pages /Kids [] /Count 7 >>"}};
    std::uint32_t state = 2024;
    for (std::uint32_t i = 0; i < fillers; ++i) {
        std::string text;
        while (text.size() < 2000) {
            state = state * 1103515245 + 12345;
            text += std::to_string(state >> 16) + " ";
        }
        objects.emplace_back(4 + i, "(" + text + ")");
    }
    objects.emplace_back(last, "(the last object)");
    return objects;
}

std::string fileWith(const Objects &objects, bool deflate = true) {
    return PdfBuilder("1.5")
        .objectStream(10, objects, deflate)
        .xrefStream(11, "/Root 1 0 R /Info 2 0 R")
        .str();
}

// Where object stream 10's data lie in the file.
std::pair<std::size_t, std::size_t> streamData(const std::string &file) {
    const std::size_t dictionary = file.find("/Type /ObjStm");
    const std::size_t start = file.find("stream\n", dictionary) + 7;
    return {start, file.find("\nendstream", start) - start};
}

// Object stream 10 inflated by zlib, and its /First.
std::pair<std::string, std::uint64_t> decodedStream(const std::string &file) {
    const auto [start, length] = streamData(file);
    std::string out(std::size_t{1} << 22, '\0');
    uLongf size = static_cast<uLongf>(out.size());
    EXPECT_EQ(uncompress(reinterpret_cast<Bytef *>(out.data()), &size,
                         reinterpret_cast<const Bytef *>(file.data() + start),
                         static_cast<uLong>(length)),
              Z_OK);
    out.resize(size);
    const std::size_t first = file.find("/First ", file.find("/Type /ObjStm"));
    EXPECT_NE(first, std::string::npos);
    return {out, std::stoull(file.substr(first + 7, 20))};
}

struct Opened : Reading {
    explicit Opened(const std::string &file, std::size_t chunk = 0) : Reading(file, chunk) {
        EXPECT_EQ(xref.readSection(over.parser.findXrefOffset(limits::kStartxrefWindow)),
                  PDFResult::Ok);
        start = budget.left();
    }
    // Bytes decoded since the cross-reference stream was read.
    std::size_t spent() const { return start - budget.left(); }
    // The bytes of a string object, or the title of a dictionary.
    std::string text(std::uint32_t number) {
        PDFObject object;
        EXPECT_EQ(objects.readObject(number, object), PDFResult::Ok) << number;
        const std::u16string title = object._dictionary.getString("Title", u"");
        return object._dictionary.empty() ? std::string(object._data.begin(), object._data.end())
                                          : std::string(title.begin(), title.end());
    }
    std::size_t start = 0;
};

// Each object read inflates the stream up to the next object's offset in the header, the last
// one up to the end; nothing is inflated twice, and an object already out costs nothing.
TEST(ObjectStream, InflatedOnlyAsFarAsTheObjectsReadReach) {
    const Objects objects = documentObjects(40, 99);
    const std::string file = fileWith(objects);
    const auto [decoded, first] = decodedStream(file);
    struct Step {
        std::uint32_t number;
        std::size_t reach; // index of the object whose offset ends the read; SIZE_MAX: the end
    };
    const Step steps[] = {{2, 2},  {1, 2},         {3, 3},        {20, 20},
                          {5, 20}, {99, SIZE_MAX}, {30, SIZE_MAX}};
    for (const std::size_t chunk : test::kChunkSizes) {
        Opened r(file, chunk);
        const auto *members = r.objects.objectStreamMembers(10);
        ASSERT_NE(members, nullptr);
        ASSERT_EQ(members->size(), objects.size());
        EXPECT_EQ(r.spent(), first) << "the header alone";
        for (const Step &step : steps) {
            PDFObject object;
            ASSERT_EQ(r.objects.readObject(step.number, object), PDFResult::Ok) << step.number;
            const auto expected = static_cast<std::size_t>(
                step.reach == SIZE_MAX ? decoded.size() : first + (*members)[step.reach].second);
            EXPECT_EQ(r.spent(), expected) << step.number << " chunk " << chunk;
            members = r.objects.objectStreamMembers(10);
        }
    }
}

// A stream damaged after the objects that a load needs no longer fails the load: they come out
// of the data before the damage, and only a read that needs the data past it fails.
TEST(ObjectStream, DamageAfterTheObjectsReadFailsNoneOfThem) {
    const Objects objects = documentObjects(60, 99);
    const std::string intact = fileWith(objects);
    const auto [start, length] = streamData(intact);
    // Object 30 lies about halfway into the stream, before every damage.
    const std::string thirty = objects[29].second.substr(1, objects[29].second.size() - 2);
    struct Damage {
        const char *what;
        std::size_t from; // bytes before the end of the stream data
        std::size_t count;
        bool zeros; // zeros written over them, else their bits flipped
    };
    const Damage damages[] = {
        {"the Adler-32 changed", 1, 1, false},
        {"bytes flipped in the last tenth", length / 10, length / 20, false},
        {"the last quarter zeroed", length / 4, length / 4, true},
    };
    for (const Damage &damage : damages) {
        std::string file = intact;
        const std::size_t from = start + length - damage.from;
        for (std::size_t i = from; i < from + damage.count; ++i)
            file[i] = damage.zeros ? '\0' : static_cast<char>(file[i] ^ 0x5A);
        for (const std::size_t chunk : {std::size_t{0}, std::size_t{3}}) {
            Opened r(file, chunk);
            EXPECT_EQ(r.text(2), "Read before the damage") << damage.what;
            EXPECT_EQ(r.text(30), thirty) << damage.what;
            PDFObject last;
            EXPECT_EQ(r.objects.readObject(99, last), PDFResult::DecompressionFailed)
                << damage.what;
            EXPECT_EQ(r.text(1), "") << "still read after the failure: " << damage.what;
        }
        PDFDocument document;
        ASSERT_EQ(document.load(
                      std::span(reinterpret_cast<const std::uint8_t *>(file.data()), file.size())),
                  PDFResult::Ok)
            << damage.what;
        EXPECT_FALSE(document.recovered()) << damage.what;
        EXPECT_EQ(document.values().getString("Title", u""), u"Read before the damage");
        EXPECT_EQ(document.values().getString("PageCount", u""), u"7");
    }
}

// An object read from a stream kept open costs no second inflation; one from a stream let go
// (beyond limits::kMaxCachedObjectStreams streams, or limits::kMaxCachedObjectStreamBytes
// beside the one in use) is read and inflated anew.
TEST(ObjectStream, ALoadKeepsAFewStreamsOpen) {
    // Stream i holds object 1 + i, which is read, and after it `bytes` bytes of an object that
    // is not: stored without a filter, they are held whole, but never parsed.
    const auto file = [](std::uint32_t streams, std::size_t bytes) {
        PdfBuilder pdf("1.5");
        std::string tail(bytes, 'x');
        tail.front() = '(';
        tail.back() = ')';
        for (std::uint32_t i = 0; i < streams; ++i)
            pdf.objectStream(100 + i, {{1 + i, "(read)"}, {50 + i, tail}}, bytes < 1000);
        return pdf.xrefStream(200, "/Root 1 0 R").str();
    };
    const std::size_t big = limits::kMaxCachedObjectStreamBytes * 3 / 8;
    struct Case {
        const char *what;
        std::uint32_t streams; // read in turn, then the first again
        std::size_t bytes;
        bool readAgain;
    };
    const Case cases[] = {
        {"as many small streams as are kept", std::uint32_t{limits::kMaxCachedObjectStreams}, 50,
         false},
        {"one small stream more", std::uint32_t{limits::kMaxCachedObjectStreams} + 1, 50, true},
        {"three big streams, two beside the one in use", 3, big, false},
        {"four big streams, three beside the one in use", 4, big, true},
    };
    for (const Case &c : cases) {
        const std::string bytes = file(c.streams, c.bytes);
        Opened r(bytes);
        for (std::uint32_t i = 0; i < c.streams; ++i)
            EXPECT_EQ(r.text(1 + i), "read") << c.what;
        const std::size_t before = r.spent();
        EXPECT_EQ(r.text(1), "read") << c.what;
        EXPECT_EQ(r.spent() > before, c.readAgain) << c.what;
    }
}

} // namespace
