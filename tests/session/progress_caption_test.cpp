#include "session/progress_caption.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

constexpr std::uint64_t mib = 1048576;

TEST(ProgressCaption, ShowsPercentAndAmountsWhenTheTotalIsKnown) {
    const ProgressCaption caption = progressCaption(L"正在下载客户端", 50 * mib, 200 * mib);
    EXPECT_EQ(caption.text, L"正在下载客户端  25%  50.0 / 200.0 MB");
    EXPECT_EQ(caption.percent, 25);
    EXPECT_EQ(progressCaption(L"x", 199, 200).percent, 99) << "truncated, never rounded up";
    EXPECT_EQ(progressCaption(L"x", 300 * mib, 200 * mib).percent, 100) << "capped";
}

TEST(ProgressCaption, WithoutATotalShowsWhatArrivedAndNoPercent) {
    const ProgressCaption caption = progressCaption(L"正在下载客户端", 5 * mib, 0);
    EXPECT_EQ(caption.text, L"正在下载客户端  已下载 5.0 MB");
    EXPECT_FALSE(caption.percent.has_value());
    EXPECT_EQ(progressCaption(L"正在安装客户端", 0, 0).text, L"正在安装客户端");
    EXPECT_EQ(progressCaption(L"x", 0, 3 * mib / 2).text, L"x  0%  0.0 / 1.5 MB");
}

} // namespace
} // namespace launcher
