// How long the reader takes over the hostile inputs that the tests check end in a result code
// (tests/support/HostileFiles): deflate bombs, deep nesting, /Prev loops, reference cycles,
// numbers beyond every width, files that only a recovery scan reads and page trees without
// /Count, loaded from memory or, for a sparse 1 GiB file, from disk; and the scanner and
// inflater at their limits.
// The tests assert what these end in; how fast they end is measured here. Usage:
//
//   build/release/bench/bench_hostile [--benchmark_filter=REGEX] [other Google Benchmark flags]
#include <benchmark/benchmark.h>

#include <filesystem>
#include <span>
#include <string>
#include <system_error>

#include "PDFDocument.h"
#include "objects/PDFObject.h"
#include "support/HostileFiles.h"
#include "syntax/Limits.h"
#include "syntax/MemorySource.h"
#include "syntax/PDFDictionary.h"

using namespace vellumtag;

namespace {

std::span<const std::uint8_t> bytesOf(const std::string &text) {
    return {reinterpret_cast<const std::uint8_t *>(text.data()), text.size()};
}

void loadHostile(benchmark::State &state, const test::HostileFile &file) {
    for (auto _ : state) {
        PDFDocument document;
        if (document.load(bytesOf(file.bytes)) != file.expected) {
            state.SkipWithError("the load did not end in its result");
            return;
        }
    }
}

void loadPath(benchmark::State &state, const std::filesystem::path &path) {
    for (auto _ : state) {
        PDFDocument document;
        if (document.load(path) != PDFResult::Ok || !document.recovered()) {
            state.SkipWithError("the file was not read by the recovery scan");
            return;
        }
    }
}

void parseDictionary(benchmark::State &state, const std::string &bytes) {
    MemorySource source(bytesOf(bytes));
    for (auto _ : state) {
        MemoryParser parser(source);
        PDFDictionary dictionary;
        benchmark::DoNotOptimize(dictionary.parse(parser));
    }
}

// A stream that inflates to one byte more than the stream limit.
void inflateBeyondTheLimit(benchmark::State &state) {
    const std::string bomb = test::zeroBomb((limits::kMaxStreamBytes >> 20) + 1);
    for (auto _ : state) {
        Bytes data(bomb.begin(), bomb.end());
        if (PDFObject::flateDecode(data) != PDFResult::DecompressionFailed) {
            state.SkipWithError("the bomb inflated");
            return;
        }
    }
}

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    const std::vector<test::HostileFile> files = test::hostileFiles();
    for (const auto &file : files)
        benchmark::RegisterBenchmark(("load/" + file.what).c_str(), loadHostile, file)
            ->Unit(benchmark::kMillisecond);

    // A file of no cross-reference data whose objects lie at the two ends of a 1 GiB hole: the
    // recovery scan reads all of it. Sparse, so it costs no disk space.
    const std::filesystem::path far =
        std::filesystem::temp_directory_path() / "vellumtag-bench-objects-at-both-ends.pdf";
    if (test::objectsAtBothEnds(std::uint64_t{1} << 30).write(far))
        benchmark::RegisterBenchmark("load/objects at both ends of 1 GiB, no cross-reference data",
                                     loadPath, far)
            ->Unit(benchmark::kMillisecond);

    std::string deep, slashes = "<< /Type ";
    for (int i = 0; i < 1'000'000; ++i)
        deep += "<</a";
    slashes += std::string(1'000'000, '/') + "X >>";
    benchmark::RegisterBenchmark("dictionary/a million nested dictionaries", parseDictionary, deep)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("dictionary/two million <", parseDictionary,
                                 std::string(2'000'000, '<'))
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("dictionary/a million / before a name value", parseDictionary,
                                 slashes)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("inflate/one byte beyond the stream limit", inflateBeyondTheLimit)
        ->Unit(benchmark::kMillisecond);

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove(far, ignored);
    return 0;
}
