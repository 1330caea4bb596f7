#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "PDFDocument.h"
#include "TestSupport.h"
#include "syntax/ChunkedFile.h"
#include "syntax/Limits.h"
#include "syntax/MemoryFile.h"
#include "syntax/MemorySource.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "syntax/MappingGuard.h"
#endif

using namespace vellumtag;
using vellumtag::test::PdfBuilder;
using vellumtag::test::TempDir;

namespace {

constexpr std::size_t kChunk = ChunkedSource::kChunkBytes;

// Bytes whose value changes when the offset moves by one, a page or a chunk.
std::string pattern(std::size_t size) {
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        out[i] = static_cast<char>((i + (i >> 8) * 3 + (i >> 16) * 5) & 0xFF);
    return out;
}

std::string text(std::span<const std::uint8_t> bytes) { return {bytes.begin(), bytes.end()}; }

bool allZero(std::span<const std::uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

enum class Kind { Memory, Mapped, Chunked };
const Kind kKinds[] = {Kind::Memory, Kind::Mapped, Kind::Chunked};
const char *name(Kind kind) {
    return kind == Kind::Memory   ? "MemorySource"
           : kind == Kind::Mapped ? "MemoryFile"
                                  : "ChunkedFile";
}

// A source of the kind over the file at path, whose bytes are given and outlive the source.
std::unique_ptr<ByteSource> openSource(Kind kind, const std::filesystem::path &path,
                                       const std::string &bytes) {
    if (kind == Kind::Memory)
        return std::make_unique<MemorySource>(std::span<const std::uint8_t>(
            reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size()));
    if (kind == Kind::Mapped) {
        auto file = std::make_unique<MemoryFile>();
        return file->open(path) ? std::move(file) : nullptr;
    }
    auto file = std::make_unique<ChunkedFile>();
    return file->open(path) ? std::move(file) : nullptr;
}

// Chunked reads over a string that record every readAt; bytes from `available` on are never
// delivered, as from a file that shrank to that size.
class StringSource : public ChunkedSource {
public:
    explicit StringSource(std::string bytes, std::size_t available = SIZE_MAX)
        : _bytes(std::move(bytes)), _available(available) {
        reset(_bytes.size());
    }
    std::vector<std::pair<std::uint64_t, std::size_t>> calls;

protected:
    std::size_t readAt(std::uint64_t offset, std::uint8_t *buffer, std::size_t count) override {
        calls.emplace_back(offset, count);
        const std::uint64_t end =
            std::min<std::uint64_t>({_available, _bytes.size(), offset + count});
        if (offset >= end)
            return 0;
        const auto length = static_cast<std::size_t>(end - offset);
        std::memcpy(buffer, _bytes.data() + static_cast<std::size_t>(offset), length);
        return length;
    }

private:
    std::string _bytes;
    std::size_t _available;
};

TEST(ByteSource, ReadsServeEveryPositionAndStopAtTheEnd) {
    TempDir dir;
    const std::string bytes = pattern(3 * kChunk + 123);
    const auto path = dir.write("pattern.bin", bytes);
    const std::size_t size = bytes.size();
    struct Case {
        const char *what;
        std::uint64_t offset;
        std::size_t length;
    };
    // In this order, so that the chunked source meets hits, overlaps and misses.
    const Case cases[] = {
        {"start", 0, 10},
        {"next", 10, 20},
        {"middle", 100000, 500},
        {"across a chunk boundary", kChunk - 5, 10},
        {"begins in the buffer, ends past it", kChunk + 3, kChunk},
        {"larger than a chunk", 1000, 2 * kChunk + 7},
        {"end", size - 10, 10},
        {"over the end", size - 5, 100},
        {"at the end", size, 10},
        {"past the end", size + 100, 10},
        {"length 0", 50, 0},
        {"all of it", 0, SIZE_MAX},
        {"start again", 3, 4},
    };
    for (const Kind kind : kKinds) {
        const auto source = openSource(kind, path, bytes);
        ASSERT_NE(source, nullptr) << name(kind);
        EXPECT_EQ(source->size(), size) << name(kind);
        EXPECT_EQ(source->inMemory(), kind != Kind::Chunked) << name(kind);
        for (const auto &c : cases) {
            const std::string expected =
                c.offset < size ? bytes.substr(static_cast<std::size_t>(c.offset), c.length) : "";
            EXPECT_EQ(text(source->read(c.offset, c.length)), expected)
                << name(kind) << ": " << c.what;
        }
        EXPECT_FALSE(source->failed()) << name(kind);
    }
}

TEST(ByteSource, InMemorySourcesReturnViewsNotCopies) {
    TempDir dir;
    const std::string bytes = pattern(3 * kChunk);
    const auto path = dir.write("pattern.bin", bytes);
    for (const Kind kind : {Kind::Memory, Kind::Mapped}) {
        const auto source = openSource(kind, path, bytes);
        ASSERT_NE(source, nullptr) << name(kind);
        const auto all = source->read(0, bytes.size());
        for (const std::size_t offset : {std::size_t{1}, std::size_t{4096}, bytes.size() - 1})
            EXPECT_EQ(source->read(offset, 1).data(), all.data() + offset) << name(kind);
    }
}

TEST(ChunkedSource, ReadsAChunkAheadKeepsTheOverlapAndGrowsOnlyToARequest) {
    const std::string bytes = pattern(300000);
    StringSource source(bytes);
    struct Step {
        std::uint64_t offset;
        std::size_t length;
        std::vector<std::pair<std::uint64_t, std::size_t>> reads;
    };
    const Step steps[] = {
        {0, 16, {{0, kChunk}}},                   // a miss reads a chunk ahead
        {16, 16, {}},                             // small reads that follow cost nothing
        {kChunk - 16, 16, {}},                    // up to the end of the buffer
        {kChunk - 6, 16, {{kChunk, kChunk - 6}}}, // the 6 buffered bytes are kept
        {200000, 100000, {{200000, 100000}}},     // larger than a chunk: that much, no more
        {10, 10, {{10, kChunk}}},                 // then a chunk again, not the largest request
        {299990, 50, {{299990, 10}}},             // the read ahead stops at the end
        {300000, 1, {}},
        {5, 0, {}},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        const Step &step = steps[i];
        source.calls.clear();
        const std::string expected =
            step.offset < bytes.size()
                ? bytes.substr(static_cast<std::size_t>(step.offset), step.length)
                : "";
        EXPECT_EQ(text(source.read(step.offset, step.length)), expected) << "step " << i;
        EXPECT_EQ(source.calls, step.reads) << "step " << i;
    }
    EXPECT_FALSE(source.failed());
}

TEST(ChunkedSource, FailsOnlyForRequestedBytesItCannotHave) {
    const std::string bytes = pattern(300000);
    StringSource source(bytes, 100000);
    struct Step {
        std::uint64_t offset;
        std::size_t length, good;
        bool failedAfter;
    };
    const Step steps[] = {
        {0, 16, 16, false},
        {90000, 100, 100, false}, // its read ahead comes up short, the request does not
        {99990, 20, 10, true},    // ten bytes, then zeros
        {99990, 20, 10, true},    // the zeros are kept, not read again
        {250000, 100, 0, true},
        {0, 16, 16, true}, // stays failed
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        const Step &step = steps[i];
        const auto got = source.read(step.offset, step.length);
        ASSERT_EQ(got.size(), step.length) << "step " << i;
        EXPECT_EQ(text(got.first(step.good)),
                  bytes.substr(static_cast<std::size_t>(step.offset), step.good))
            << "step " << i;
        EXPECT_TRUE(allZero(got.subspan(step.good))) << "step " << i;
        EXPECT_EQ(source.failed(), step.failedAfter) << "step " << i;
    }
}

TEST(ByteSource, FilesOpenOnlyWhenReadableRegularAndNotEmpty) {
    TempDir dir;
    const auto empty = dir.write("empty.pdf", "");
    const auto unreadable = dir.write("locked.pdf", "%PDF-1.4\n");
    std::filesystem::permissions(unreadable, std::filesystem::perms::none);
    const bool runningAsRoot = std::ifstream(unreadable).good();
    std::vector<std::pair<std::filesystem::path, const char *>> cases = {
        {dir.path() / "missing.pdf", "missing"}, {dir.path(), "directory"}, {empty, "empty"}};
    if (!runningAsRoot)
        cases.emplace_back(unreadable, "unreadable");
#ifndef _WIN32
    // Without a writer, a FIFO opened for reading blocks unless it is opened non-blocking.
    const auto fifo = dir.path() / "fifo.pdf";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    cases.emplace_back(fifo, "FIFO");
    cases.emplace_back("/dev/null", "device");
#endif
    for (const auto &[path, what] : cases) {
        MemoryFile mapped;
        ChunkedFile chunked;
        EXPECT_FALSE(mapped.open(path)) << what;
        EXPECT_FALSE(chunked.open(path)) << what;
        EXPECT_FALSE(mapped.isOpen() || chunked.isOpen()) << what;
        EXPECT_EQ(mapped.size() + chunked.size(), 0u) << what;
        EXPECT_TRUE(mapped.read(0, 1).empty() && chunked.read(0, 1).empty()) << what;
    }
}

TEST(ByteSource, FilesReopenOnAnotherFile) {
    TempDir dir;
    const auto first = dir.write("a.pdf", "%PDF-1.7 first");
    const auto second = dir.write("b.pdf", "second file");
    auto check = [&](auto &file, const char *what) {
        ASSERT_TRUE(file.open(first)) << what;
        EXPECT_EQ(text(file.read(0, 100)), "%PDF-1.7 first") << what;
        // Nothing of the first file, its buffer included, survives the second open.
        ASSERT_TRUE(file.open(second)) << what;
        EXPECT_EQ(file.size(), 11u) << what;
        EXPECT_EQ(text(file.read(0, 100)), "second file") << what;
        EXPECT_FALSE(file.open(dir.path() / "missing.pdf")) << what;
        EXPECT_FALSE(file.isOpen()) << what;
        EXPECT_TRUE(file.read(0, 1).empty()) << what;
        file.close();
        file.close();
    };
    MemoryFile mapped;
    ChunkedFile chunked;
    check(mapped, "MemoryFile");
    check(chunked, "ChunkedFile");
}

// A PDF of a few hundred KiB: the information dictionary first, then a long stream, then the
// cross-reference table.
std::string largePdf() {
    return PdfBuilder()
        .object(1, "<< /Type /Catalog >>")
        .object(2, "<< /Title (Whole) >>")
        .stream(3, "<< /Length 300000 >>", std::string(300000, 'x'))
        .build("/Root 1 0 R /Info 2 0 R");
}

TEST(ByteSource, DocumentsLoadThroughEverySource) {
    TempDir dir;
    const std::string bytes = largePdf();
    const auto path = dir.write("large.pdf", bytes);
    for (const Kind kind : kKinds) {
        const auto source = openSource(kind, path, bytes);
        ASSERT_NE(source, nullptr) << name(kind);
        PDFDocument document;
        EXPECT_EQ(document.load(*source), PDFResult::Ok) << name(kind);
        EXPECT_EQ(document.values().getString("Title", u""), u"Whole") << name(kind);
    }
}

// Every object beyond 4 GiB, in a sparse file: offsets and a size that 32 bits would cut, read
// by chunks (a 32-bit process could not map the file whole).
TEST(ByteSource, FilesBeyondFourGiBLoadByChunks) {
    TempDir dir;
    const auto path = dir.path() / "beyond-4-GiB.pdf";
    ASSERT_TRUE(PdfBuilder()
                    .hole((std::uint64_t{1} << 32) + 7)
                    .object(1, "<< /Type /Catalog /Pages 3 0 R >>")
                    .object(2, "<< /Title (Far) >>")
                    .object(3, "<< /Type /Pages /Kids [] /Count 0 >>")
                    .xrefTable("/Root 1 0 R /Info 2 0 R")
                    .write(path));
    PDFDocument document;
    ASSERT_EQ(document.load(path), PDFResult::Ok);
    EXPECT_EQ(document.values().getString("Title", u""), u"Far");
    EXPECT_FALSE(document.recovered());
}

#ifdef _WIN32

// Writers may share the file, as a viewer saving it or a download in progress would. Windows
// still refuses to shrink a mapped file; a file read by chunks may shrink, and the reads past its
// new end then fail as they do on POSIX.
TEST(ByteSource, WritersShareTheFileAndOnlyAMappingKeepsItsSize) {
    TempDir dir;
    const std::string bytes = pattern(100000);
    const auto path = dir.write("open.pdf", bytes);
    auto truncate = [&]() -> DWORD {
        HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return GetLastError();
        LARGE_INTEGER at{};
        at.QuadPart = 10;
        const DWORD error =
            SetFilePointerEx(handle, at, nullptr, FILE_BEGIN) && SetEndOfFile(handle)
                ? DWORD{ERROR_SUCCESS}
                : GetLastError();
        CloseHandle(handle);
        return error;
    };
    {
        MemoryFile mapped;
        ASSERT_TRUE(mapped.open(path));
        EXPECT_EQ(truncate(), DWORD{ERROR_USER_MAPPED_FILE});
        EXPECT_EQ(text(mapped.read(99990, 10)), bytes.substr(99990));
        EXPECT_FALSE(mapped.failed());
    }
    EXPECT_EQ(std::filesystem::file_size(path), 100000u);
    {
        ChunkedFile chunked;
        ASSERT_TRUE(chunked.open(path));
        EXPECT_EQ(truncate(), DWORD{ERROR_SUCCESS});
        EXPECT_EQ(text(chunked.read(0, 10)), bytes.substr(0, 10));
        EXPECT_TRUE(allZero(chunked.read(90000, 100)));
        EXPECT_TRUE(chunked.failed());
    }
    EXPECT_EQ(std::filesystem::file_size(path), 10u);
}

#else

TEST(ByteSource, FileCutWhileOpenReadsZerosPastItsNewEndAndFails) {
    TempDir dir;
    const std::string bytes = pattern(300 * 1024);
    // Cut inside the first page, and inside the second.
    for (const std::size_t kept : {std::size_t{10}, std::size_t{5000}}) {
        for (const Kind kind : {Kind::Mapped, Kind::Chunked}) {
            const auto path = dir.write("cut.bin", bytes);
            const auto source = openSource(kind, path, bytes);
            ASSERT_NE(source, nullptr) << name(kind);
            std::filesystem::resize_file(path, kept);
            EXPECT_EQ(text(source->read(0, kept)), bytes.substr(0, kept)) << name(kind);
            // A mapping notices the shrink by the file's size even before a read meets it.
            EXPECT_EQ(source->failed(), kind == Kind::Mapped) << name(kind) << " " << kept;

            const auto across = source->read(kept - 5, 3 * kChunk);
            ASSERT_EQ(across.size(), 3 * kChunk) << name(kind);
            EXPECT_EQ(text(across.first(5)), bytes.substr(kept - 5, 5)) << name(kind);
            EXPECT_TRUE(allZero(across.subspan(5))) << name(kind) << " " << kept;
            EXPECT_TRUE(allZero(source->read(250000, 10000))) << name(kind) << " " << kept;
            EXPECT_TRUE(source->failed()) << name(kind) << " " << kept;
            EXPECT_EQ(text(source->read(0, kept)), bytes.substr(0, kept)) << name(kind);
        }
    }
}

// A file truncated between the source's open and the document's read, mapped or read by chunks.
TEST(ByteSource, DocumentCutDuringItsLoadIsNotReadable) {
    TempDir dir;
    const std::string bytes = largePdf();
    for (const Kind kind : {Kind::Mapped, Kind::Chunked}) {
        const auto path = dir.write("cut.pdf", bytes);
        const auto source = openSource(kind, path, bytes);
        ASSERT_NE(source, nullptr) << name(kind);
        // The header and the information dictionary remain; the cross-reference table is gone.
        std::filesystem::resize_file(path, 200000);
        PDFDocument document;
        EXPECT_EQ(document.load(*source), PDFResult::FileNotReadable) << name(kind);
        EXPECT_TRUE(document.values().empty()) << name(kind);
    }
}

constexpr std::size_t kMappingBytes = 64 * 1024;
constexpr std::size_t kKeptBytes = 200;

// A mapping of kMappingBytes of the file at path, never guarded, the file then cut to
// kKeptBytes.
const volatile std::uint8_t *unguardedCutMapping(const std::filesystem::path &path) {
    const std::string bytes = pattern(kMappingBytes);
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    const int fd = ::open(path.c_str(), O_RDONLY);
    void *view = ::mmap(nullptr, bytes.size(), PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    std::filesystem::resize_file(path, kKeptBytes);
    return view == MAP_FAILED ? nullptr : static_cast<const volatile std::uint8_t *>(view);
}

const void *address(const volatile std::uint8_t *view) {
    return const_cast<const std::uint8_t *>(view);
}

TEST(MappingGuard, AnswersAFaultInItsMappingWithZeros) {
    TempDir dir;
    const auto path = dir.path() / "guarded.bin";
    const volatile std::uint8_t *view = unguardedCutMapping(path);
    ASSERT_NE(view, nullptr);
    MappingGuard guard;
    ASSERT_TRUE(guard.guard(address(view), kMappingBytes));
    EXPECT_EQ(view[kKeptBytes - 1], static_cast<std::uint8_t>(pattern(kKeptBytes).back()));
    // The rest of the page that holds the end reads as zeros without a fault.
    EXPECT_EQ(view[kKeptBytes], 0);
    EXPECT_FALSE(guard.failed());
    EXPECT_EQ(view[40000], 0);
    EXPECT_TRUE(guard.failed());
    EXPECT_EQ(view[20000] + view[60000], 0);
    guard.release();
    EXPECT_FALSE(guard.isGuarding() || guard.failed());
    ::munmap(const_cast<std::uint8_t *>(view), kMappingBytes);
}

TEST(MappingGuard, RefusesAMappingBeyondItsSlots) {
    TempDir dir;
    const auto path = dir.write("many.pdf", "%PDF-1.4\n");
    std::vector<MemoryFile> files(limits::kMaxGuardedMappings);
    for (std::size_t i = 0; i < files.size(); ++i)
        ASSERT_TRUE(files[i].open(path)) << i;
    MemoryFile oneMore;
    EXPECT_FALSE(oneMore.open(path));
    ChunkedFile chunked;
    EXPECT_TRUE(chunked.open(path));
    files[7].close();
    EXPECT_TRUE(oneMore.open(path));
}

TEST(MappingGuard, GuardsTheMappingsOfManyThreadsAtOnce) {
    TempDir dir;
    const std::string bytes = pattern(200 * 1024);
    constexpr int kThreads = 8, kRounds = 16;
    constexpr std::size_t kKept = 100;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            const auto path = dir.path() / ("thread" + std::to_string(t) + ".bin");
            for (int round = 0; round < kRounds; ++round) {
                dir.write(path.filename().string(), bytes);
                MemoryFile file;
                if (!file.open(path)) {
                    ++wrong;
                    continue;
                }
                const bool cut = (t + round) % 2 == 0;
                if (cut)
                    std::filesystem::resize_file(path, kKept);
                const auto all = file.read(0, bytes.size());
                const std::size_t good = cut ? kKept : all.size();
                if (std::memcmp(all.data(), bytes.data(), good) != 0 ||
                    !allZero(all.subspan(good)) || file.failed() != cut)
                    ++wrong;
            }
        });
    for (auto &thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

void exitFromSiginfoHandler(int, siginfo_t *, void *) { ::_exit(42); }
void exitFromPlainHandler(int) { ::_exit(43); }

void install(void (*plain)(int), void (*withInfo)(int, siginfo_t *, void *)) {
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    if (withInfo != nullptr) {
        action.sa_sigaction = withInfo;
        action.sa_flags = SA_SIGINFO;
    } else {
        action.sa_handler = plain;
    }
    ::sigaction(SIGBUS, &action, nullptr);
}

// Each case runs in a fresh process, so that ours is installed after the handler it names.
TEST(MappingGuardDeathTest, HandsOtherSignalsToTheHandlerBeforeIt) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    struct Case {
        const char *what;
        std::function<void()> before;
        bool raised;
        std::function<bool(int)> exit;
    };
    const Case cases[] = {
        {"default, fault", [] { install(SIG_DFL, nullptr); }, false,
         testing::KilledBySignal(SIGBUS)},
        {"default, raised", [] { install(SIG_DFL, nullptr); }, true,
         testing::KilledBySignal(SIGBUS)},
        {"SA_SIGINFO, fault", [] { install(nullptr, exitFromSiginfoHandler); }, false,
         testing::ExitedWithCode(42)},
        {"SA_SIGINFO, raised", [] { install(nullptr, exitFromSiginfoHandler); }, true,
         testing::ExitedWithCode(42)},
        {"plain, fault", [] { install(exitFromPlainHandler, nullptr); }, false,
         testing::ExitedWithCode(43)},
    };
    for (const auto &c : cases) {
        TempDir dir;
        EXPECT_EXIT(
            {
                c.before();
                // Ours, installed now, answers a fault in its own mapping first.
                const volatile std::uint8_t *guarded = unguardedCutMapping(dir.path() / "g.bin");
                MappingGuard guard;
                if (guarded == nullptr || !guard.guard(address(guarded), kMappingBytes) ||
                    guarded[40000] != 0 || !guard.failed())
                    ::_exit(1);
                const volatile std::uint8_t *other = unguardedCutMapping(dir.path() / "o.bin");
                // The child ends here: it leaves no files behind.
                std::filesystem::remove_all(dir.path());
                if (c.raised)
                    ::raise(SIGBUS);
                else
                    static_cast<void>(other[40000]);
                ::_exit(3);
            },
            c.exit, "")
            << c.what;
    }
}

TEST(MappingGuardDeathTest, RefusesToMapOnceAnotherHandlerReplacedOurs) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempDir dir;
    EXPECT_EXIT(
        {
            const volatile std::uint8_t *view = unguardedCutMapping(dir.path() / "a.bin");
            MappingGuard first;
            MappingGuard second;
            const bool guarded = first.guard(address(view), kMappingBytes);
            first.release();
            install(nullptr, exitFromSiginfoHandler);
            const bool refused = !second.guard(address(view), kMappingBytes);
            std::filesystem::remove_all(dir.path());
            ::_exit(guarded && refused ? 7 : 8);
        },
        testing::ExitedWithCode(7), "");
}

#endif

} // namespace
