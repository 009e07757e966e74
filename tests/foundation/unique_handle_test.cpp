#include "foundation/unique_handle.h"

#include <gtest/gtest.h>

#include <functional>

namespace launcher {
namespace {

// A handle kind whose close fails and says so, as closing a handle can: cleanup between a failed
// call and the look at its error must not replace that error with its own.
struct FailingCloseTraits {
    using Handle = int;
    static Handle none() noexcept { return 0; }
    static bool valid(Handle h) noexcept { return h != 0; }
    static void close(Handle) noexcept { ::SetLastError(ERROR_INVALID_HANDLE); }
};
using FailingClose = Unique<FailingCloseTraits>;

TEST(UniqueHandle, ClosingKeepsTheLastErrorOfTheFailureBeingExamined) {
    const std::vector<std::pair<const char*, std::function<void(FailingClose&)>>> closings = {
        {"reset", [](FailingClose& owner) { owner.reset(); }},
        {"reset to another handle", [](FailingClose& owner) { owner.reset(2); }},
        {"assigned another owner", [](FailingClose& owner) { owner = FailingClose{2}; }},
        {"destroyed", [](FailingClose& owner) { FailingClose{owner.release()}; }},
    };
    for (const auto& [how, closeIt] : closings) {
        FailingClose owner{1};
        ::SetLastError(ERROR_SHARING_VIOLATION);
        closeIt(owner);
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << how;
    }
}

} // namespace
} // namespace launcher
