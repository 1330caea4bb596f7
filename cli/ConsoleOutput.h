#pragma once

#include <windows.h>

#include <array>
#include <streambuf>
#include <string>

#include "Utf8StreamDecoder.h"

namespace vellumtag {

// The stream buffer of standard output or standard error when that is a console: the UTF-8
// text written to it reaches the screen as UTF-16 through WriteConsoleW, so it shows the same
// whatever the console's code page, which is left alone. Text is kept until a flush, a full
// buffer or destruction; a sequence cut off by a full buffer waits for its remaining bytes.
// Never throws: a failed write makes the stream bad.
class ConsoleOutput final : public std::streambuf {
public:
    explicit ConsoleOutput(HANDLE console);
    ~ConsoleOutput() override;
    ConsoleOutput(const ConsoleOutput &) = delete;
    ConsoleOutput &operator=(const ConsoleOutput &) = delete;

    // Whether handle is a console, as opposed to a file, a pipe or nothing.
    static bool isConsole(HANDLE handle);

protected:
    int_type overflow(int_type c) override;
    int sync() override;

private:
    bool writeBuffer(bool last);

    HANDLE _console;
    std::array<char, 4096> _buffer;
    Utf8StreamDecoder _decoder;
    std::u16string _decoded;
    std::u16string _text; // _decoded with CR before each LF
};

} // namespace vellumtag
