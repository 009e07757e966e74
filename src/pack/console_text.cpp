#include "pack/console_text.h"

#include "foundation/text.h"

#include <windows.h>

#include <algorithm>

namespace launcher {
namespace {

bool isConsole(HANDLE stream) {
    DWORD mode = 0;
    return stream != nullptr && stream != INVALID_HANDLE_VALUE && ::GetConsoleMode(stream, &mode);
}

void writeTo(DWORD which, std::string_view utf8) {
    // The standard handles belong to the process: they are used here, never closed.
    const HANDLE stream = ::GetStdHandle(which);
    if (stream == nullptr || stream == INVALID_HANDLE_VALUE || utf8.empty()) return;
    if (isConsole(stream)) {
        std::wstring text;
        try {
            text = multiByteToUtf16(utf8, codePageUtf8);
        } catch (...) {
            return;
        }
        DWORD written = 0;
        ::WriteConsoleW(stream, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    DWORD written = 0;
    ::WriteFile(stream, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

} // namespace

void writeStandardOutput(std::string_view utf8) {
    writeTo(STD_OUTPUT_HANDLE, utf8);
}

void writeStandardError(std::string_view utf8) {
    writeTo(STD_ERROR_HANDLE, utf8);
}

ProgressLine::ProgressLine() : console_(isConsole(::GetStdHandle(STD_ERROR_HANDLE))) {}

ProgressLine::~ProgressLine() {
    finish();
}

void ProgressLine::show(const std::string& utf8, bool force) {
    const auto now = std::chrono::steady_clock::now();
    const auto interval = console_ ? std::chrono::milliseconds(250) : std::chrono::milliseconds(5000);
    if (!force && now - last_ < interval) return;
    last_ = now;
    if (!console_) {
        writeStandardError(utf8 + "\n");
        return;
    }
    // Pads over what the longer line before left behind.
    const std::size_t width = utf8.size();
    std::string line = "\r" + utf8;
    if (width < lastWidth_) line.append(lastWidth_ - width, ' ');
    lastWidth_ = width;
    open_ = true;
    writeStandardError(line);
}

void ProgressLine::finish() {
    if (open_) writeStandardError("\n");
    open_ = false;
    lastWidth_ = 0;
}

} // namespace launcher
