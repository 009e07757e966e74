#include "install/client_holders.h"

#include "filesystem/directory_links.h"
#include "foundation/busy_file.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"

#include <windows.h>
#include <restartmanager.h>

#include <deque>

namespace launcher {
namespace {

namespace fs = std::filesystem;

// A client's programs lie in its first few levels; the bounds keep a client of 200000 asset files
// from turning the question into a long walk.
constexpr std::size_t maxEntriesWalked = 20000;
constexpr std::size_t maxProgramsAsked = 512;

bool isProgramName(std::wstring_view name) {
    const std::wstring lower = toLowerCase(name);
    return lower.ends_with(L".exe") || lower.ends_with(L".dll");
}

// The Restart Manager takes the ordinary form of a path; the walk runs on the \\?\ form.
std::wstring ordinaryForm(const std::wstring& path) {
    if (path.starts_with(L"\\\\?\\UNC\\")) return L"\\\\" + path.substr(8);
    if (path.starts_with(L"\\\\?\\")) return path.substr(4);
    return path;
}

// The client's .exe and .dll files, level by level, skipping every link.
std::vector<std::wstring> clientPrograms(const fs::path& directory) {
    std::vector<std::wstring> programs;
    std::deque<fs::path> folders{directory};
    std::size_t walked = 0;
    while (!folders.empty() && walked < maxEntriesWalked && programs.size() < maxProgramsAsked) {
        const fs::path folder = std::move(folders.front());
        folders.pop_front();
        WIN32_FIND_DATAW entry{};
        const UniqueFind find{::FindFirstFileExW((folder / L"*").c_str(), FindExInfoBasic, &entry,
                                                 FindExSearchNameMatch, nullptr, 0)};
        if (!find) continue;
        do {
            const std::wstring_view name = entry.cFileName;
            if (name == L"." || name == L".." || isLinkEntry(entry.dwFileAttributes, entry.dwReserved0))
                continue;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                folders.push_back(folder / name);
            else if (isProgramName(name) && programs.size() < maxProgramsAsked)
                programs.push_back(ordinaryForm((folder / name).native()));
        } while (++walked < maxEntriesWalked && ::FindNextFileW(find.get(), &entry));
    }
    return programs;
}

std::vector<std::wstring> holdersOf(const std::vector<std::wstring>& files) {
    DWORD handle = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (::RmStartSession(&handle, 0, key) != ERROR_SUCCESS) return {};
    const UniqueRestartManagerSession session{handle};
    std::vector<LPCWSTR> names;
    for (const std::wstring& file : files)
        names.push_back(file.c_str());
    if (::RmRegisterResources(session.get(), static_cast<UINT>(names.size()), names.data(), 0, nullptr, 0,
                              nullptr) != ERROR_SUCCESS)
        return {};
    std::vector<RM_PROCESS_INFO> found;
    DWORD result = ERROR_MORE_DATA;
    // The list can grow between the two calls; ask again with the size it needs then.
    for (int attempt = 0; attempt < 3 && result == ERROR_MORE_DATA; ++attempt) {
        UINT needed = 0, count = static_cast<UINT>(found.size());
        DWORD reasons = 0;
        result = ::RmGetList(session.get(), &needed, &count, found.data(), &reasons);
        found.resize(result == ERROR_MORE_DATA ? needed : count);
    }
    if (result != ERROR_SUCCESS) return {};
    std::vector<std::wstring> holders;
    for (const RM_PROCESS_INFO& process : found)
        holders.emplace_back(process.strAppName);
    return holders;
}

} // namespace

std::vector<std::wstring> processesHoldingClient(const fs::path& directory) {
    try {
        const std::vector<std::wstring> programs = clientPrograms(directory);
        return programs.empty() ? std::vector<std::wstring>() : holdersOf(programs);
    } catch (const std::exception&) {
        return {}; // the question only chooses a sentence; not knowing must not fail the install
    }
}

const char* heldClientSentence(const std::error_code& renameError, std::size_t holdingProcesses) {
    if (!isFileBusyError(renameError) || holdingProcesses == 0) return nullptr;
    return "游戏正在运行，请关闭游戏后重试。";
}

} // namespace launcher
