#include "BatchRunner.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace vellumtag {

namespace {

// The files taken from the walker and not yet written, in order; the front is the next to
// write, and workers take them in order from nextToTake.
struct Window {
    struct Slot {
        InputWalker::Item item;
        std::optional<RenderedReport> report;
    };

    std::mutex mutex;
    std::condition_variable workAvailable;
    std::condition_variable reportDone;
    std::deque<Slot> slots;
    std::size_t firstIndex = 0; // the index of slots.front() in the walker's order
    std::size_t nextToTake = 0;
    bool exhausted = false; // the walker has no more, or the run ends early
};

// Files taken but not yet written, per job: enough that a slow file does not leave the other
// jobs idle, and the writer is woken once for a run of finished files rather than for each.
constexpr std::size_t kSlotsPerJob = 16;

} // namespace

void BatchRunner::run(InputWalker &walker) {
    if (_jobs > 1) {
        runParallel(walker);
        return;
    }
    InputWalker::Item item;
    while (walker.next(item)) {
        RenderedReport report = _work(item);
        _writer(item, report);
    }
}

void BatchRunner::runParallel(InputWalker &walker) {
    Window window;
    const std::size_t capacity = std::size_t{_jobs} * kSlotsPerJob;

    auto worker = [&] {
        std::unique_lock lock(window.mutex);
        for (;;) {
            window.workAvailable.wait(lock, [&] {
                return window.exhausted ||
                       window.nextToTake < window.firstIndex + window.slots.size();
            });
            if (window.nextToTake == window.firstIndex + window.slots.size())
                return;
            // Slots are only ever removed from the front once written, which this one is not,
            // and a deque keeps references to its elements when it grows at the back.
            const std::size_t index = window.nextToTake++;
            auto &slot = window.slots[index - window.firstIndex];
            lock.unlock();
            RenderedReport report = _work(slot.item);
            lock.lock();
            slot.report = std::move(report);
            // The writer waits for the front only; waking it for any other slot costs a
            // context switch for nothing.
            if (index == window.firstIndex)
                window.reportDone.notify_one();
        }
    };

    std::vector<std::thread> threads;
    auto finish = [&] {
        {
            const std::lock_guard lock(window.mutex);
            window.exhausted = true;
        }
        window.workAvailable.notify_all();
        for (auto &thread : threads)
            thread.join();
        threads.clear();
    };

    try {
        for (unsigned i = 0; i < _jobs; ++i)
            threads.emplace_back(worker);
        bool walked = false;
        for (;;) {
            // Take files from the walker while the window has room; the walker reads
            // directories, so not under the lock.
            while (!walked) {
                {
                    const std::lock_guard lock(window.mutex);
                    if (window.slots.size() >= capacity)
                        break;
                }
                InputWalker::Item item;
                if (!walker.next(item)) {
                    walked = true;
                    const std::lock_guard lock(window.mutex);
                    window.exhausted = true;
                    window.workAvailable.notify_all();
                    break;
                }
                const std::lock_guard lock(window.mutex);
                window.slots.push_back({std::move(item), std::nullopt});
                window.workAvailable.notify_one();
            }

            // Write the front once it is done.
            std::unique_lock lock(window.mutex);
            window.reportDone.wait(lock, [&] {
                return window.slots.empty() ? walked : window.slots.front().report.has_value();
            });
            if (window.slots.empty())
                break;
            Window::Slot slot = std::move(window.slots.front());
            window.slots.pop_front();
            ++window.firstIndex;
            lock.unlock();
            _writer(slot.item, *slot.report);
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

} // namespace vellumtag
