#pragma once

#include <concepts>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>

namespace launcher {

// One `key=value` field of a log line. Text is written as UTF-8, quoted when it holds a space, a
// quote or an equals sign; line breaks and other control characters are escaped, so one event is
// always one line.
struct LogField {
    LogField(std::string_view key, std::string_view value);
    LogField(std::string_view key, const char* value) : LogField(key, std::string_view(value)) {}
    LogField(std::string_view key, const std::string& value) : LogField(key, std::string_view(value)) {}
    LogField(std::string_view key, std::wstring_view value);
    LogField(std::string_view key, const wchar_t* value) : LogField(key, std::wstring_view(value)) {}
    LogField(std::string_view key, const std::wstring& value) : LogField(key, std::wstring_view(value)) {}
    LogField(std::string_view key, const std::filesystem::path& value) : LogField(key, value.native()) {}
    LogField(std::string_view key, bool value) : LogField(key, std::string_view(value ? "yes" : "no")) {}
    template <std::integral Number>
    requires(!std::same_as<Number, bool>) LogField(std::string_view key, Number value)
        : key(key), value(std::to_string(value)) {}

    std::string_view key;
    std::string value;
};

// Appends one event to the diagnostic log: "<UTC time> <thread> <event> key=value ...". Never
// throws and never waits for the disk: the line is queued for the log's writer thread. Does
// nothing while no DiagnosticLog runs. Support reads these lines: never pass a password, token,
// account name or the game's arguments.
void logEvent(std::string_view event, std::initializer_list<LogField> fields = {}) noexcept;

// Names the calling thread in its lines ("window", "check", "download", "login"); "-" otherwise.
void setLogThreadName(std::string_view name) noexcept;

// The one log of the process, from construction to destruction. Lines go to
// `directory`\launcher.log, which is renamed to launcher.1.log (replacing an older one) once it
// passes 1 MiB. The log is help, never a new way to fail: a folder that cannot be made, a file that
// cannot be opened or a full disk only loses lines.
class DiagnosticLog {
public:
    explicit DiagnosticLog(std::filesystem::path directory);
    ~DiagnosticLog(); // writes out what is queued
    DiagnosticLog(const DiagnosticLog&) = delete;
    DiagnosticLog& operator=(const DiagnosticLog&) = delete;
};

inline constexpr std::uint64_t logRotationBytes = 1 << 20;

// UTC time as the log writes it: "2026-12-09T02:12:16.123Z". Pure.
std::string logTimestamp(int year, int month, int day, int hour, int minute, int second, int millisecond);

} // namespace launcher
