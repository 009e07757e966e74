#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace launcher {

// Writes UTF-8 text to the standard output or error: as UTF-16 through the console when the stream
// is one, so Chinese shows whatever the console's code page, and as UTF-8 bytes to a pipe or file.
void writeStandardOutput(std::string_view utf8);
void writeStandardError(std::string_view utf8);

// A progress line on the standard error: redrawn in place at most four times a second on a
// console, a plain line every few seconds otherwise. Used from one thread.
class ProgressLine {
public:
    ProgressLine();
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Shows `utf8` unless the last line went out too recently; `force` shows it anyway.
    void show(const std::string& utf8, bool force = false);
    // Ends a redrawn line, so what follows starts on its own line.
    void finish();

private:
    bool console_;
    bool open_ = false;
    std::size_t lastWidth_ = 0;
    std::chrono::steady_clock::time_point last_{};
};

} // namespace launcher
