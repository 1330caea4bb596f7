#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <ostream>
#include <string>

namespace vellumtag {

// A line on standard error that tells how a long run goes: files done, files per second and
// failures. It shows only when standard error is a terminal and the run has taken more than a
// second, redraws at most a few times a second, and is wiped before anything else is written
// to the terminal and at the end, so it never mixes with the output.
class ProgressLine {
public:
    using Clock = std::chrono::steady_clock;

    // shown: whether standard error is a terminal; start: when the run began.
    ProgressLine(std::ostream &err, bool shown, Clock::time_point start = Clock::now())
        : _err(err), _shown(shown), _start(start), _lastDrawn(start) {}
    ~ProgressLine() { wipe(); }
    ProgressLine(const ProgressLine &) = delete;
    ProgressLine &operator=(const ProgressLine &) = delete;

    // Call before writing anything to standard output or standard error.
    void wipe();
    // Call after each file, now being the time it was done.
    void fileDone(bool failed, Clock::time_point now = Clock::now());

    // The text of the line, for the counts and the time so far.
    static std::string text(std::size_t done, std::size_t failed, Clock::duration elapsed);

    // Whether a standard stream (stdout, stderr) is a terminal.
    static bool isTerminal(std::FILE *stream);

private:
    std::ostream &_err;
    bool _shown;
    Clock::time_point _start;
    Clock::time_point _lastDrawn;
    std::size_t _done = 0;
    std::size_t _failed = 0;
    std::size_t _drawnWidth = 0; // 0: nothing on screen
};

} // namespace vellumtag
