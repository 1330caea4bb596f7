// In-process load times of the reader (PDFDocument::load, file mapping included) on generated
// files that stand for the shapes it meets: a classic cross-reference table of a few thousand
// objects, the same document with object streams (of 100 objects, or all in one) and a
// cross-reference stream and as RC4,
// AES-128 and AES-256 encrypted copies, a long chain of incremental updates, and one big stream
// beside a small document at 1 MiB, 1 GiB and 3 GiB, whose load times should not grow with the
// size: the big files are sparse, so they cost no disk space. All are written by the PdfBuilder of
// the tests.
//
// The files are written into a fresh temporary folder, removed at the end. Usage:
//
//   build/release/bench/bench_load [--benchmark_filter=REGEX] [other Google Benchmark flags]
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>

#include "BenchFiles.h"
#include "PDFDocument.h"

namespace fs = std::filesystem;
using vellumtag::PDFDocument;
using vellumtag::PDFResult;

namespace {

// Deletes the folder of generated files on every way out of main.
struct TempFolder {
    fs::path path;
    ~TempFolder() {
        std::error_code ignored;
        if (!path.empty())
            fs::remove_all(path, ignored);
    }
};

std::string utf8(const std::u16string &text) { return std::string(text.begin(), text.end()); }

// Why the file cannot stand for its case, or the empty text when it loads as generated.
std::string checkFile(const fs::path &path, const std::string &pageCount) {
    PDFDocument document;
    const PDFResult result = document.load(path);
    if (result != PDFResult::Ok)
        return "load returned " + std::to_string(static_cast<int>(result));
    const auto values = document.values();
    if (utf8(values.getString("Title", u"")) != vellumtag::bench::kTitle)
        return "unexpected Title";
    if (utf8(values.getString("PageCount", u"")) != pageCount)
        return "unexpected PageCount";
    return {};
}

void loadFile(benchmark::State &state, const fs::path &path, const std::string &pageCount) {
    if (const std::string problem = checkFile(path, pageCount); !problem.empty()) {
        state.SkipWithError(problem.c_str());
        return;
    }
    for (auto _ : state) {
        PDFDocument document;
        benchmark::DoNotOptimize(document.load(path));
    }
    state.counters["file_MiB"] =
        static_cast<double>(fs::file_size(path)) / static_cast<double>(1 << 20);
}

constexpr std::uint32_t kPages = 2000;
constexpr std::uint32_t kChainPages = 500;
constexpr std::uint32_t kChainUpdates = 20;
constexpr std::uint32_t kChainObjectsPerUpdate = 200;

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    TempFolder folder;
    try {
        std::string pattern = (fs::temp_directory_path() / "vellumtag-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::cerr << "bench_load: cannot create a temporary folder\n";
            return 1;
        }
        folder.path = pattern;
        using vellumtag::bench::Form;
        const fs::path classic = folder.path / "classic.pdf";
        const std::uint32_t objects =
            vellumtag::bench::writeDocument(classic, kPages, Form::ClassicTable);
        const fs::path xrefStream = folder.path / "xref-stream.pdf";
        vellumtag::bench::writeDocument(xrefStream, kPages, Form::ObjectStreams);
        const fs::path oneObjectStream = folder.path / "one-object-stream.pdf";
        vellumtag::bench::writeDocument(oneObjectStream, kPages, Form::OneObjectStream);
        const fs::path rc4 = folder.path / "rc4.pdf";
        vellumtag::bench::writeDocument(rc4, kPages, Form::Rc4ClassicTable);
        const fs::path aes128 = folder.path / "aes128.pdf";
        vellumtag::bench::writeDocument(aes128, kPages, Form::Aes128ClassicTable);
        const fs::path aes256 = folder.path / "aes256.pdf";
        vellumtag::bench::writeDocument(aes256, kPages, Form::Aes256ClassicTable);
        const fs::path chain = folder.path / "incremental.pdf";
        vellumtag::bench::writeIncremental(chain, kChainPages, kChainUpdates,
                                           kChainObjectsPerUpdate);
        const fs::path small = folder.path / "one-stream-1MiB.pdf";
        vellumtag::bench::writeOneBigStream(small, std::uint64_t{1} << 20);
        const fs::path large = folder.path / "one-stream-1GiB.pdf";
        vellumtag::bench::writeOneBigStream(large, std::uint64_t{1} << 30);
        const fs::path huge = folder.path / "one-stream-3GiB.pdf";
        vellumtag::bench::writeOneBigStream(huge, std::uint64_t{3} << 30);

        const std::string pages = std::to_string(kPages);
        const std::string classicName =
            "load/classic_table_" + std::to_string(objects) + "_objects";
        benchmark::RegisterBenchmark(classicName.c_str(), loadFile, classic, pages);
        benchmark::RegisterBenchmark("load/xref_stream_object_streams", loadFile, xrefStream,
                                     pages);
        // Only the header and the first objects of the one stream are inflated.
        benchmark::RegisterBenchmark("load/xref_stream_one_object_stream", loadFile,
                                     oneObjectStream, pages);
        benchmark::RegisterBenchmark("load/rc4_128_classic_table", loadFile, rc4, pages);
        benchmark::RegisterBenchmark("load/aes_128_classic_table", loadFile, aes128, pages);
        benchmark::RegisterBenchmark("load/aes_256_r6_classic_table", loadFile, aes256, pages);
        const std::string chainName =
            "load/incremental_chain_" + std::to_string(kChainUpdates + 1) + "_sections";
        benchmark::RegisterBenchmark(chainName.c_str(), loadFile, chain,
                                     std::to_string(kChainPages));
        benchmark::RegisterBenchmark("load/one_big_stream_1MiB", loadFile, small, "1");
        benchmark::RegisterBenchmark("load/one_big_stream_1GiB", loadFile, large, "1");
        benchmark::RegisterBenchmark("load/one_big_stream_3GiB", loadFile, huge, "1");

        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    } catch (const std::exception &error) {
        std::cerr << "bench_load: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
