#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BatchRunner.h"
#include "TestSupport.h"

using namespace vellumtag;
using vellumtag::test::PdfBuilder;
using vellumtag::test::TempDir;

namespace {

// Everything a run writes, in the order the writer got it.
std::vector<std::string> runWith(unsigned jobs, const std::vector<std::filesystem::path> &files) {
    std::vector<std::string> written;
    InputWalker walker(files, false, false);
    BatchRunner(
        jobs,
        [](const InputWalker::Item &item) {
            return renderJsonLine(FileReport::read(item.path, false));
        },
        [&](const InputWalker::Item &, RenderedReport &report) {
            written.push_back(report.warning + report.body);
        })
        .run(walker);
    return written;
}

} // namespace

// In-process, so that ThreadSanitizer sees the workers, the window and the writer: any number
// of jobs writes what one job writes, in the same order, also with far fewer files than jobs.
TEST(BatchRunner, AnyNumberOfJobsWritesWhatOneWrites) {
    TempDir dir;
    std::vector<std::filesystem::path> files;
    for (int i = 0; i < 150; ++i) {
        std::string name("f");
        name.append(std::to_string(i)).append(".pdf");
        files.push_back(dir.write(name, i % 9 == 4 ? std::string("damaged")
                                                   : PdfBuilder()
                                                         .object(1, "<< /Type /Catalog >>")
                                                         .object(2, "<< /Title (" + name + ") >>")
                                                         .build("/Root 1 0 R /Info 2 0 R")));
    }
    const auto serial = runWith(1, files);
    ASSERT_EQ(serial.size(), files.size());
    for (const unsigned jobs : {2u, 3u, 8u, 64u}) {
        EXPECT_EQ(runWith(jobs, files), serial) << jobs;
        const std::vector<std::filesystem::path> few(files.begin(), files.begin() + 2);
        EXPECT_EQ(runWith(jobs, few), std::vector<std::string>(serial.begin(), serial.begin() + 2))
            << jobs;
        EXPECT_TRUE(runWith(jobs, {}).empty()) << jobs;
    }
}
