#include "session/status_announcer.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

using Source = Announcement::Source;

SessionView showing(std::wstring status, StatusKind kind, bool download = false, std::wstring caption = L"",
                    std::optional<int> percent = std::nullopt) {
    SessionView view;
    view.status = std::move(status);
    view.statusKind = kind;
    view.downloadShown = download;
    view.caption = std::move(caption);
    view.percent = percent;
    return view;
}

// A first run as a screen-reader user hears it: the check, the download announced by its steps and
// each tenth, the ready sentence, a failure's reason with its status, a refused password
// interrupting, and the game started.
TEST(StatusAnnouncer, AFirstRunIsHeardStepByStepWithoutAFloodOfPercentages) {
    const std::wstring enter = L"请输入账号和密码";
    const std::wstring downloading = L"游戏正在下载，完成后点击进入游戏。";
    const std::wstring notReady = L"游戏尚未就绪，点击进入游戏可重试。";
    const std::wstring done = L"游戏下载完成，请点击进入游戏。";
    const std::wstring canceled = L"下载已取消，点击进入游戏可重新下载。";
    const std::wstring refused = L"账号或密码错误。";
    const struct {
        SessionView view;
        std::vector<Announcement> heard;
    } steps[] = {
        {showing(enter, StatusKind::normal, false, L"正在检查客户端…"),
         {{Source::status, L"正在检查客户端…请输入账号和密码", Politeness::polite}}},
        {showing(downloading, StatusKind::normal, true, L"正在准备下载…", 0),
         {{Source::progress, L"正在准备下载…", Politeness::polite},
          {Source::status, downloading, Politeness::polite}}},
        {showing(downloading, StatusKind::normal, true, L"正在下载客户端  0%  0.0 / 9.0 MB", 0),
         {{Source::progress, L"正在下载客户端 0%", Politeness::polite}}},
        {showing(downloading, StatusKind::normal, true, L"正在下载客户端  4%  0.4 / 9.0 MB", 4), {}},
        {showing(downloading, StatusKind::normal, true, L"正在下载客户端  9%  0.8 / 9.0 MB", 9), {}},
        {showing(downloading, StatusKind::normal, true, L"正在下载客户端  13%  1.2 / 9.0 MB", 13),
         {{Source::progress, L"正在下载客户端 10%", Politeness::polite}}},
        {showing(notReady, StatusKind::error, false, canceled),
         {{Source::status, canceled + notReady, Politeness::assertive}}},
        // The same failure after another try is said again.
        {showing(downloading, StatusKind::normal, true, L"正在准备下载…", 0),
         {{Source::progress, L"正在准备下载…", Politeness::polite},
          {Source::status, downloading, Politeness::polite}}},
        {showing(notReady, StatusKind::error, false, canceled),
         {{Source::status, canceled + notReady, Politeness::assertive}}},
        {showing(downloading, StatusKind::normal, true, L"正在下载客户端  37%  3.3 / 9.0 MB", 37),
         {{Source::progress, L"正在下载客户端 30%", Politeness::polite},
          {Source::status, downloading, Politeness::polite}}},
        {showing(downloading, StatusKind::normal, true, L"正在解压客户端  37%  3.3 / 9.0 MB", 37),
         {{Source::progress, L"正在解压客户端 30%", Politeness::polite}}},
        {showing(done, StatusKind::success, false, L"客户端下载完成"),
         {{Source::status, L"客户端下载完成。" + done, Politeness::polite}}},
        {showing(refused, StatusKind::error, false, L"客户端下载完成"),
         {{Source::status, refused, Politeness::assertive}}},
        {showing(refused, StatusKind::error, false, L"客户端下载完成"), {}},
        {showing(L"游戏已启动", StatusKind::success, false, L"客户端下载完成"),
         {{Source::status, L"游戏已启动", Politeness::polite}}},
    };
    StatusAnnouncer announcer;
    int step = 0;
    for (const auto& row : steps) {
        EXPECT_EQ(announcer.update(row.view), row.heard) << "step " << step;
        ++step;
    }
}

} // namespace
} // namespace launcher
