#include "ProgressLine.h"

#include <algorithm>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace vellumtag {

namespace {

constexpr auto kQuietStart = std::chrono::seconds(1);
constexpr auto kRedrawEvery = std::chrono::milliseconds(200);

} // namespace

bool ProgressLine::isTerminal(std::FILE *stream) {
#ifdef _WIN32
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

std::string ProgressLine::text(std::size_t done, std::size_t failed, Clock::duration elapsed) {
    const double seconds = std::chrono::duration<double>(elapsed).count();
    const auto rate =
        seconds > 0 ? static_cast<unsigned long long>(static_cast<double>(done) / seconds + 0.5)
                    : 0ULL;
    return std::to_string(done) + " files, " + std::to_string(rate) + " files/s, " +
           std::to_string(failed) + " failed";
}

void ProgressLine::wipe() {
    if (_drawnWidth == 0)
        return;
    // Spaces over the line rather than an escape sequence, which not every console takes.
    _err << '\r' << std::string(_drawnWidth, ' ') << '\r' << std::flush;
    _drawnWidth = 0;
}

void ProgressLine::fileDone(bool failed, Clock::time_point now) {
    ++_done;
    if (failed)
        ++_failed;
    if (!_shown)
        return;
    if (now - _start < kQuietStart || now - _lastDrawn < kRedrawEvery)
        return;
    _lastDrawn = now;
    const std::string line = text(_done, _failed, now - _start);
    _err << '\r' << line;
    if (line.size() < _drawnWidth)
        _err << std::string(_drawnWidth - line.size(), ' ');
    _err << std::flush;
    _drawnWidth = std::max(_drawnWidth, line.size());
}

} // namespace vellumtag
