#pragma once

#include <functional>

#include "FileReport.h"
#include "InputWalker.h"

namespace vellumtag {

// Reads the walker's files on a number of threads and hands their reports to the writer in
// the walker's order, exactly as one thread would. At most jobs files are being read at once,
// and at most 16 times that many are taken from the walker but not yet written, so memory stays
// bounded however many files there are. One job reads on the calling thread, with no other.
// The writer and the walker run on the calling thread only; work runs on any thread and must
// not throw.
class BatchRunner {
public:
    using Work = std::function<RenderedReport(const InputWalker::Item &)>;
    using Writer = std::function<void(const InputWalker::Item &, RenderedReport &)>;

    BatchRunner(unsigned jobs, Work work, Writer writer)
        : _jobs(jobs == 0 ? 1 : jobs), _work(std::move(work)), _writer(std::move(writer)) {}

    void run(InputWalker &walker);

private:
    void runParallel(InputWalker &walker);

    unsigned _jobs;
    Work _work;
    Writer _writer;
};

} // namespace vellumtag
