#include "foundation/busy_file.h"
#include "foundation/error.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

std::error_code win32(DWORD code) {
    return std::error_code(static_cast<int>(code), std::system_category());
}

// Wine has no scanner that opens fresh files, so the rule is shown over attempts that fail the
// way a rename fails on Windows while one does.
TEST(RetryWhileFileBusy, RetriesOnlyWhileAScannerCouldHoldTheFile) {
    struct Case {
        DWORD error;
        int failures; // before the attempt succeeds
        int expectedAttempts;
        DWORD expectedResult;
    };
    for (const Case& c :
         {Case{ERROR_SHARING_VIOLATION, 3, 4, ERROR_SUCCESS}, Case{ERROR_ACCESS_DENIED, 1, 2, ERROR_SUCCESS},
          Case{ERROR_LOCK_VIOLATION, 2, 3, ERROR_SUCCESS},
          Case{ERROR_FILE_NOT_FOUND, 5, 1, ERROR_FILE_NOT_FOUND},
          Case{ERROR_DISK_FULL, 5, 1, ERROR_DISK_FULL}}) {
        int attempts = 0;
        const std::error_code result = retryWhileFileBusy(
            [&] { return ++attempts <= c.failures ? win32(c.error) : std::error_code(); }, nullptr);
        EXPECT_EQ(result.value(), static_cast<int>(c.expectedResult)) << c.error;
        EXPECT_EQ(attempts, c.expectedAttempts) << c.error;
    }
}

TEST(RetryWhileFileBusy, GivesUpAfterTheLimitAndStopsWhenCancelled) {
    int attempts = 0;
    const auto busy = [&] {
        ++attempts;
        return win32(ERROR_SHARING_VIOLATION);
    };
    EXPECT_EQ(retryWhileFileBusy(busy, nullptr, std::chrono::milliseconds(100)).value(),
              ERROR_SHARING_VIOLATION);
    EXPECT_GT(attempts, 1);

    CancelToken token;
    attempts = 0;
    EXPECT_EQ(testing::failureOf([&] {
                  retryWhileFileBusy(
                      [&] {
                          if (++attempts == 2) cancel(token);
                          return win32(ERROR_ACCESS_DENIED);
                      },
                      &token);
              }),
              "操作已取消");
    EXPECT_EQ(attempts, 2);
}

} // namespace
} // namespace launcher
