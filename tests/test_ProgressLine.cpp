#include <gtest/gtest.h>

#include <sstream>

#include "ProgressLine.h"

using vellumtag::ProgressLine;
using namespace std::chrono_literals;

// The line appears on a terminal only, after the first second, at most five times a second,
// and wiping leaves the cursor at the start of an empty line.
TEST(ProgressLine, ShownOnATerminalAfterASecondAndWipedClean) {
    const auto start = ProgressLine::Clock::time_point{} + 100h;
    struct Step {
        std::chrono::milliseconds at;
        bool failed;
        const char *drawn; // what the step writes
    };
    const Step steps[] = {
        {100ms, false, ""},
        {999ms, true, ""},
        {1000ms, false, "\r3 files, 3 files/s, 1 failed"},
        {1100ms, false, ""},
        {2000ms, true, "\r5 files, 3 files/s, 2 failed"},
    };
    for (const bool terminal : {false, true}) {
        std::ostringstream err;
        ProgressLine progress(err, terminal, start);
        for (const auto &step : steps) {
            const auto before = err.str().size();
            progress.fileDone(step.failed, start + step.at);
            EXPECT_EQ(err.str().substr(before), terminal ? step.drawn : "") << step.at.count();
        }
        const auto before = err.str().size();
        progress.wipe();
        progress.wipe();
        EXPECT_EQ(err.str().substr(before), terminal ? "\r" + std::string(28, ' ') + "\r" : "");
    }
}

TEST(ProgressLine, TextRoundsTheRate) {
    EXPECT_EQ(ProgressLine::text(0, 0, 0s), "0 files, 0 files/s, 0 failed");
    EXPECT_EQ(ProgressLine::text(2500, 7, 2s), "2500 files, 1250 files/s, 7 failed");
    EXPECT_EQ(ProgressLine::text(5, 0, 3s), "5 files, 2 files/s, 0 failed");
}
