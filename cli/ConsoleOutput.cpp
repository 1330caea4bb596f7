#include "ConsoleOutput.h"

#include <algorithm>
#include <string_view>

namespace vellumtag {

namespace {

// Older Windows versions pass a console write through a 64 KB heap (Microsoft's documentation
// of WriteConsole); one write of UTF-16 stays well below that.
constexpr std::size_t kMostPerWrite = 8192;

} // namespace

ConsoleOutput::ConsoleOutput(HANDLE console) : _console(console) {
    setp(_buffer.data(), _buffer.data() + _buffer.size());
}

ConsoleOutput::~ConsoleOutput() { writeBuffer(true); }

bool ConsoleOutput::isConsole(HANDLE handle) {
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != 0;
}

ConsoleOutput::int_type ConsoleOutput::overflow(int_type c) {
    if (!writeBuffer(false))
        return traits_type::eof();
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
}

int ConsoleOutput::sync() { return writeBuffer(false) ? 0 : -1; }

bool ConsoleOutput::writeBuffer(bool last) {
    const std::string_view bytes(pbase(), static_cast<std::size_t>(pptr() - pbase()));
    setp(_buffer.data(), _buffer.data() + _buffer.size());
    try {
        _decoded.clear();
        _decoder.decode(bytes, _decoded);
        if (last)
            _decoder.finish(_decoded);
        // A line ends in CR LF, as the C runtime's text mode wrote it to the console before.
        _text.clear();
        for (const char16_t unit : _decoded) {
            if (unit == u'\n')
                _text.push_back(u'\r');
            _text.push_back(unit);
        }
    } catch (...) {
        return false;
    }
    for (std::size_t done = 0; done < _text.size();) {
        const auto count = static_cast<DWORD>(std::min(_text.size() - done, kMostPerWrite));
        DWORD written = 0;
        if (!WriteConsoleW(_console, _text.data() + done, count, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

} // namespace vellumtag
