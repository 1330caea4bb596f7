#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <latch>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "PDFDocument.h"
#include "TestSupport.h"

using namespace vellumtag;
using vellumtag::test::PdfBuilder;
using vellumtag::test::PdfEncryption;

namespace {

const std::filesystem::path kSource(VELLUMTAG_SOURCE_DIR);

// A document whose catalog, page tree root and information dictionary lie in an object
// stream, with an XMP packet beside it, plain or encrypted.
std::string objectStreamDocument(std::optional<PdfEncryption> encryption) {
    PdfBuilder pdf("1.5");
    if (encryption)
        pdf.encrypt(*encryption);
    pdf.objectStream(10, {{1, "<< /Type /Catalog /Pages 2 0 R /Metadata 5 0 R >>"},
                          {2, "<< /Type /Pages /Kids [] /Count 3 >>"},
                          {4, "<< /Title (Shared by threads) /Author (Vellumtag Team) "
                              "/Subject 6 0 R >>"},
                          {6, "(Referenced subject)"}});
    pdf.stream(5, {.entries = "/Type /Metadata /Subtype /XML",
                   .data = "<x:xmpmeta><rdf:RDF><rdf:Description><pdf:Producer>XMP producer"
                           "</pdf:Producer></rdf:Description></rdf:RDF></x:xmpmeta>",
                   .deflate = true});
    return pdf.xrefStream(11, "/Root 1 0 R /Info 4 0 R").str();
}

// A document of two sections, the second an incremental update of the information
// dictionary.
std::string updatedDocument() {
    PdfBuilder pdf("1.4");
    pdf.object(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .object(2, "<< /Type /Pages /Kids [] /Count 1 >>")
        .object(3, "<< /Title (First) >>")
        .xrefTable("/Root 1 0 R /Info 3 0 R");
    pdf.object(3, "<< /Title (Updated) /Author (Second section) >>");
    return pdf.build("/Root 1 0 R /Info 3 0 R");
}

// An object stream whose data are damaged after the objects a load reads.
std::string damagedTailDocument() {
    std::vector<std::pair<std::uint32_t, std::string>> objects = {
        {1, "<< /Type /Catalog /Pages 2 0 R >>"},
        {2, "<< /Type /Pages /Kids [] /Count 2 >>"},
        {3, "<< /Title (Damaged tail) >>"}};
    for (std::uint32_t i = 4; i < 40; ++i) {
        std::string body = "(";
        body += std::to_string(i * 7919);
        body.append(500, static_cast<char>('a' + i % 26));
        body += std::to_string(i * 104729);
        body += ")";
        objects.emplace_back(i, body);
    }
    std::string file =
        PdfBuilder("1.5").objectStream(10, objects).xrefStream(11, "/Root 1 0 R /Info 3 0 R").str();
    const std::size_t end = file.find("\nendstream", file.find("/Type /ObjStm"));
    for (std::size_t i = end - 40; i < end; ++i)
        file[i] = static_cast<char>(file[i] ^ 0x33);
    return file;
}

struct Outcome {
    PDFResult result = PDFResult::Ok;
    PDFDictionary values;
    bool recovered = false;
    bool operator==(const Outcome &) const = default;
};

enum class Way { Path, Memory, Chunks };

struct Input {
    std::string name;
    std::filesystem::path path;
    std::string bytes;
};

Outcome load(const Input &input, Way way) {
    PDFDocument document;
    Outcome outcome;
    if (way == Way::Path) {
        outcome.result = document.load(input.path);
    } else if (way == Way::Memory) {
        outcome.result = document.load(std::span(
            reinterpret_cast<const std::uint8_t *>(input.bytes.data()), input.bytes.size()));
    } else {
        test::PiecewiseSource pieces(input.bytes, 7);
        outcome.result = document.load(pieces);
    }
    outcome.values = document.values();
    outcome.recovered = document.recovered();
    return outcome;
}

// The samples, the encrypted fixtures, and documents of the builder in the shapes that take
// other paths through the reader: object streams (plain and with each cipher), an update, a
// stream damaged after what is read, and a file whose cross-reference data must be rebuilt.
std::vector<Input> inputs(const test::TempDir &dir) {
    std::vector<Input> all;
    for (const char *folder : {"samples", "tests/data"}) {
        for (const auto &entry : std::filesystem::directory_iterator(kSource / folder)) {
            if (entry.path().extension() != ".pdf")
                continue;
            std::ifstream in(entry.path(), std::ios::binary);
            all.push_back({entry.path().filename().string(), entry.path(),
                           std::string(std::istreambuf_iterator<char>(in), {})});
        }
    }
    using Cipher = PdfEncryption::Cipher;
    std::string damaged = objectStreamDocument(std::nullopt);
    damaged[damaged.rfind("startxref\n") + 10] = '9';
    const std::pair<const char *, std::string> built[] = {
        {"object streams", objectStreamDocument(std::nullopt)},
        {"object streams, RC4", objectStreamDocument(PdfEncryption{.objectNumber = 20})},
        {"object streams, AES-128",
         objectStreamDocument(
             PdfEncryption{.objectNumber = 20, .cipher = Cipher::AES128, .revision = 4})},
        {"object streams, AES-256",
         objectStreamDocument(
             PdfEncryption{.objectNumber = 20, .cipher = Cipher::AES256, .revision = 6})},
        {"updated", updatedDocument()},
        {"damaged tail", damagedTailDocument()},
        {"rebuilt", damaged},
    };
    for (const auto &[name, bytes] : built)
        all.push_back({name, dir.write(std::string(name) + ".pdf", bytes), bytes});
    return all;
}

TEST(ConcurrentLoads, EachLoadGivesWhatItGivesAlone) {
    test::TempDir dir;
    const std::vector<Input> files = inputs(dir);
    ASSERT_GE(files.size(), 25u);
    constexpr Way kWays[] = {Way::Path, Way::Memory, Way::Chunks};
    std::vector<Outcome> alone;
    for (const Input &input : files) {
        for (const Way way : kWays) {
            alone.push_back(load(input, way));
            EXPECT_EQ(alone.back(), alone[alone.size() - 1 - static_cast<std::size_t>(way)])
                << input.name << ": every way of reading gives the same";
        }
    }
    // The inputs whose load must succeed do: a mismatch below is then never a shared failure.
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (files[i].name.find("user-password") == std::string::npos) {
            EXPECT_EQ(alone[i * 3].result, PDFResult::Ok) << files[i].name;
        }
        EXPECT_EQ(alone[i * 3].recovered, files[i].name == "rebuilt") << files[i].name;
    }

    constexpr std::size_t kThreads = 8;
    constexpr std::size_t kLoadsPerThread = 300;
    std::latch start(kThreads);
    std::mutex lock;
    std::vector<std::string> mismatches;
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            // Each thread walks the inputs in an order of its own.
            for (std::size_t i = 0; i < kLoadsPerThread; ++i) {
                const std::size_t pick = (i * 7 + t * 13) % alone.size();
                const Input &input = files[pick / 3];
                if (load(input, kWays[pick % 3]) != alone[pick]) {
                    const std::lock_guard guard(lock);
                    mismatches.push_back(input.name + " (way " + std::to_string(pick % 3) + ")");
                }
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_TRUE(mismatches.empty())
        << mismatches.size() << " loads differed, the first of " << mismatches.front();
}

} // namespace
