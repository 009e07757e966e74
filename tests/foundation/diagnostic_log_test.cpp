#include "foundation/diagnostic_log.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <thread>

namespace launcher {
namespace {

using testing::readBytes;
using testing::TempDir;

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

// Four threads log at once, past the rotation size: every line stays whole and well-formed, the
// older half is kept once, and awkward values stay on their own line.
TEST(DiagnosticLog, ConcurrentLinesStayWholeAndTheLogRotatesAtOneMebibyte) {
    TempDir dir;
    const auto logs = dir / L"K3Gatehouse" / L"Logs";
    {
        const DiagnosticLog log(logs);
        std::vector<std::thread> threads;
        for (const char* name : {"window", "check", "download", "login"})
            threads.emplace_back([name] {
                setLogThreadName(name);
                for (int i = 0; i < 1000; ++i)
                    logEvent("test.event", {{"index", i},
                                            {"path", L"C:\\游戏 目录\\a=b"},
                                            {"text", "x\r\ny\"z"},
                                            {"spaced", "a b"},
                                            {"pad", std::string(300, 'p')}});
            });
        for (std::thread& thread : threads)
            thread.join();
    }
    EXPECT_EQ(testing::listNames(logs), (std::vector<std::wstring>{L"launcher.1.log", L"launcher.log"}));
    const std::string older = readBytes(logs / L"launcher.1.log");
    const std::string current = readBytes(logs / L"launcher.log");
    EXPECT_GT(older.size(), logRotationBytes);
    EXPECT_LT(older.size(), logRotationBytes + 1024); // one line past it

    const std::regex wellFormed(
        R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z (window|check|download|login) test\.event )"
        R"(index=\d+ path="C:\\\\游戏 目录\\\\a=b" text="x\\r\\ny\\"z" spaced="a b" pad=p{300}\r)");
    std::size_t count = 0;
    for (const std::string* text : {&older, &current})
        for (const std::string& line : linesOf(*text)) {
            ++count;
            EXPECT_TRUE(std::regex_match(line, wellFormed)) << line;
        }
    EXPECT_EQ(count, 4000u);
}

// The log is help, never a new way to fail.
TEST(DiagnosticLog, FolderThatCannotBeMadeOnlyLosesTheLines) {
    TempDir dir;
    testing::writeBytes(dir / L"Logs", "a file where the folder belongs");
    {
        const DiagnosticLog log(dir / L"Logs");
        logEvent("test.event", {{"n", 1}});
    }
    logEvent("after.close");
    EXPECT_EQ(readBytes(dir / L"Logs"), "a file where the folder belongs");
}

TEST(DiagnosticLog, TimestampsAreUtcWithMilliseconds) {
    EXPECT_EQ(logTimestamp(2026, 12, 9, 2, 5, 7, 42), "2026-12-09T02:05:07.042Z");
}

} // namespace
} // namespace launcher
