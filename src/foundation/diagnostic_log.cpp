#include "foundation/diagnostic_log.h"

#include "foundation/unique_handle.h"

#include <windows.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace launcher {
namespace {

constexpr std::size_t maxQueuedLines = 10000; // a stalled disk costs memory only up to here

thread_local std::string threadName = "-";

// What logEvent hands to the writer thread.
struct LogQueue {
    std::mutex lock;
    std::condition_variable wake;
    std::vector<std::string> lines; // guarded by lock
    std::size_t dropped = 0;        // guarded by lock
    bool running = false;           // guarded by lock
    bool stopping = false;          // guarded by lock
    std::thread writer;
};

LogQueue& logQueue() {
    static LogQueue queue;
    return queue;
}

bool needsQuotes(std::string_view value) {
    if (value.empty()) return true;
    for (const char c : value)
        if (c == ' ' || c == '"' || c == '=' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return true;
    return false;
}

std::string fieldText(std::string_view value) {
    if (!needsQuotes(value)) return std::string(value);
    std::string result = "\"";
    for (const char c : value) {
        switch (c) {
        case '"':
            result += "\\\"";
            break;
        case '\\':
            result += "\\\\";
            break;
        case '\n':
            result += "\\n";
            break;
        case '\r':
            result += "\\r";
            break;
        case '\t':
            result += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                constexpr char digits[] = "0123456789ABCDEF";
                result += "\\x";
                result += digits[(c >> 4) & 0xF];
                result += digits[c & 0xF];
            } else {
                result += c;
            }
        }
    }
    return result + '"';
}

// The log file as the writer thread sees it: opened when first needed and after every failure,
// renamed aside once it passes the rotation size.
class LogFile {
public:
    explicit LogFile(std::filesystem::path directory)
        : directory_(std::move(directory)), path_(directory_ / L"launcher.log"),
          older_(directory_ / L"launcher.1.log") {}

    // Lines go out in batches of whole lines, and the file is rotated right after the line that
    // took it past the rotation size.
    void append(const std::vector<std::string>& lines) {
        std::string batch;
        for (const std::string& line : lines) {
            batch += line;
            if (size_ + batch.size() > logRotationBytes) write(batch);
        }
        write(batch);
    }

private:
    void write(std::string& batch) {
        if (batch.empty()) return;
        if (!file_) open();
        if (file_) {
            DWORD written = 0;
            // One write per batch: appends of another launcher never land inside a line.
            if (::WriteFile(file_.get(), batch.data(), static_cast<DWORD>(batch.size()), &written, nullptr) &&
                written == batch.size())
                size_ += written;
            else
                file_.reset(); // a full disk: these lines are lost, the next batch tries again
        }
        batch.clear();
        if (file_ && size_ > logRotationBytes) {
            file_.reset();
            ::MoveFileExW(path_.c_str(), older_.c_str(), MOVEFILE_REPLACE_EXISTING);
        }
    }

    void open() {
        if (directory_.empty()) return;
        std::error_code ignored;
        std::filesystem::create_directories(directory_, ignored);
        // Shared for reading and writing so a player can open it in Notepad meanwhile, and for
        // deletion so another launcher can rotate it.
        file_ = UniqueFile{::CreateFileW(path_.c_str(), FILE_APPEND_DATA,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)};
        LARGE_INTEGER size{};
        size_ = file_ && ::GetFileSizeEx(file_.get(), &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
    }

    std::filesystem::path directory_, path_, older_;
    UniqueFile file_;
    std::uint64_t size_ = 0;
};

std::string formatLine(std::string_view event, std::initializer_list<LogField> fields) {
    SYSTEMTIME now{};
    ::GetSystemTime(&now);
    std::string line =
        logTimestamp(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    line += ' ';
    line += threadName;
    line += ' ';
    line += event;
    for (const LogField& field : fields) {
        line += ' ';
        line += field.key;
        line += '=';
        line += field.value;
    }
    line += "\r\n";
    return line;
}

void writeLines(const std::filesystem::path& directory) {
    LogFile file(directory);
    LogQueue& queue = logQueue();
    std::unique_lock guard(queue.lock);
    for (;;) {
        queue.wake.wait(guard, [&] { return !queue.lines.empty() || queue.stopping; });
        if (queue.lines.empty()) return; // stopping, and everything is written
        std::vector<std::string> lines = std::exchange(queue.lines, {});
        const std::size_t dropped = std::exchange(queue.dropped, 0);
        guard.unlock();
        if (dropped != 0) lines.push_back(formatLine("log.dropped", {{"lines", dropped}}));
        file.append(lines);
        guard.lock();
    }
}

} // namespace

LogField::LogField(std::string_view key, std::string_view value) : key(key), value(fieldText(value)) {}

LogField::LogField(std::string_view key, std::wstring_view value) : key(key) {
    // Not the strict conversion: a log line must never fail, so a broken character becomes U+FFFD.
    std::string utf8;
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, value.data(), static_cast<int>(value.size()), nullptr,
                                           0, nullptr, nullptr);
    if (size > 0) {
        utf8.resize(static_cast<std::size_t>(size));
        ::WideCharToMultiByte(CP_UTF8, 0, value.data(), static_cast<int>(value.size()), utf8.data(), size,
                              nullptr, nullptr);
    }
    this->value = fieldText(utf8);
}

std::string logTimestamp(int year, int month, int day, int hour, int minute, int second, int millisecond) {
    char text[32];
    std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", year, month, day, hour, minute,
                  second, millisecond);
    return text;
}

void setLogThreadName(std::string_view name) noexcept {
    try {
        threadName = name;
    } catch (...) {
    }
}

void logEvent(std::string_view event, std::initializer_list<LogField> fields) noexcept {
    try {
        std::string line = formatLine(event, fields);

        LogQueue& queue = logQueue();
        const std::lock_guard guard(queue.lock);
        if (!queue.running) return;
        if (queue.lines.size() >= maxQueuedLines) {
            ++queue.dropped;
            return;
        }
        queue.lines.push_back(std::move(line));
        queue.wake.notify_one();
    } catch (...) {
        // Out of memory for a log line: the line is lost, nothing else.
    }
}

DiagnosticLog::DiagnosticLog(std::filesystem::path directory) {
    LogQueue& queue = logQueue();
    const std::lock_guard guard(queue.lock);
    try {
        queue.writer = std::thread(writeLines, std::move(directory));
        queue.stopping = false;
        queue.running = true;
    } catch (...) {
        // No thread to write with: the launcher runs without a log.
    }
}

DiagnosticLog::~DiagnosticLog() {
    LogQueue& queue = logQueue();
    {
        const std::lock_guard guard(queue.lock);
        queue.running = false;
        queue.stopping = true;
    }
    queue.wake.notify_one();
    if (queue.writer.joinable()) queue.writer.join();
}

} // namespace launcher
