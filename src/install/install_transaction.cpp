#include "install/install_transaction.h"

#include "config/config_validation.h"
#include "filesystem/directory_links.h"
#include "filesystem/path_rules.h"
#include "foundation/busy_file.h"
#include "foundation/diagnostic_log.h"
#include "foundation/error.h"
#include "foundation/path_normal.h"
#include "foundation/text.h"
#include "foundation/unique_name.h"
#include "install/client_holders.h"
#include "install/client_install.h"
#include "install/installed_marker.h"
#include "install/unity_layout.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace launcher {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* unwritableFolder = "游戏目录没有写入权限，请将启动器放到可写入的文件夹后重试。";

fs::path sibling(const fs::path& directory, std::wstring_view suffix) {
    return directory.native() + std::wstring(suffix);
}

std::wstring uniqueSuffix(std::wstring_view prefix) {
    return std::wstring(prefix) + multiByteToUtf16(newUniqueHexName(), codePageUtf8);
}

std::error_code lastError() {
    return std::error_code(static_cast<int>(::GetLastError()), std::system_category());
}

void report(const ProgressCallback& progress, const wchar_t* status, std::uint64_t done,
            std::uint64_t total) {
    if (progress) progress(status, done, total);
}

// Whether `name` is a staging or previous directory of the install directory `installName`: that
// name, ".install-" or ".previous-", and a 32-digit hexadecimal token, in any letter case.
bool isInstallLeftoverName(std::wstring_view name, std::wstring_view installName) {
    const std::wstring lowerName = toLowerCase(name);
    const std::wstring lowerInstall = toLowerCase(installName);
    if (!lowerName.starts_with(lowerInstall)) return false;
    const std::wstring_view rest = std::wstring_view(lowerName).substr(lowerInstall.size());
    for (const std::wstring_view infix :
         {std::wstring_view(L".install-"), std::wstring_view(L".previous-")}) {
        if (!rest.starts_with(infix)) continue;
        const std::wstring_view token = rest.substr(infix.size());
        return token.size() == 32 && std::ranges::all_of(token, [](wchar_t c) {
                   return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f');
               });
    }
    return false;
}

// A launcher killed between the two renames of the swap left the only copy of the client in its
// previous directory, with no install directory. Puts a complete one back; true if it did.
bool restoreLeftAsideClient(const fs::path& leftover, const fs::path& directory, CancelToken& token,
                            std::chrono::milliseconds busyWait) {
    if (!toLowerCase(leftover.filename().native())
             .starts_with(toLowerCase(directory.filename().native()) + L".previous-") ||
        ::GetFileAttributesW(directory.c_str()) != INVALID_FILE_ATTRIBUTES ||
        !isRecordedClientComplete(leftover, token))
        return false;
    const std::error_code error = moveFileWhenFree(leftover.c_str(), directory.c_str(), 0, &token, busyWait);
    // Kept where it is if it cannot be put back: it may be the only copy of the client.
    if (error)
        logEvent("install.previous_kept", {{"path", leftover}, {"error", error.value()}});
    else
        logEvent("install.previous_restored", {{"from", leftover}, {"to", directory}});
    return true;
}

// A launcher killed during an install leaves its staging or previous directory behind. The caller
// holds the lock, so no install of this directory is running and every such directory is
// abandoned. Whatever cannot be listed or removed stays, without a message. Both paths are in
// their \\?\ form, in which the leftovers' deep paths can be removed. Throws Canceled, leaving
// what it has not removed yet.
void removeInterruptedInstalls(const fs::path& directory, const fs::path& parent, CancelToken& token,
                               std::chrono::milliseconds busyWait) {
    std::vector<fs::path> leftovers;
    try {
        std::error_code error;
        for (fs::directory_iterator entry(parent, error), end; !error && entry != end; entry.increment(error))
            if (isInstallLeftoverName(entry->path().filename().native(), directory.filename().native()))
                leftovers.push_back(parent / entry->path().filename());
    } catch (...) {
        return; // leftovers only cost disk space; they must not stop this install
    }
    for (const fs::path& leftover : leftovers) {
        if (restoreLeftAsideClient(leftover, directory, token, busyWait)) continue;
        removeTreeSafely(leftover, parent, [&] { return token.canceled(); });
        throwIfCanceled(token);
    }
}

// Refuses an install directory that holds something other than an earlier installation.
void rejectOccupiedDirectory(const fs::path& directory) {
    const fs::file_status status = fs::symlink_status(directory);
    if (!fs::exists(status)) return;
    // A file where the directory should be would otherwise be moved aside and deleted.
    const bool occupied =
        !fs::is_directory(status) ||
        (!fs::is_empty(directory) && !fs::exists(fs::symlink_status(directory / installedMarkerName)));
    if (occupied) throw Error("游戏安装目录已有其他文件，请使用新的空目录。");
}

void makeDirectory(const fs::path& path) {
    if (!::CreateDirectoryW(path.c_str(), nullptr))
        throw fs::filesystem_error("cannot create directory", path, lastError());
}

// Only an open handle locks, so a lock file left by a crashed launcher never blocks.
UniqueFile takeInstallLock(const fs::path& lockPath) {
    UniqueFile lock{::CreateFileW(lockPath.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (lock) return lock;
    const DWORD error = ::GetLastError();
    logEvent("install.lock_refused", {{"path", lockPath}, {"error", error}});
    // Program Files, read-only media or a folder guarded against ransomware, not another launcher.
    if (error == ERROR_ACCESS_DENIED) throw Error(unwritableFolder);
    throw Error("另一个启动器正在安装游戏，请稍后重试。");
}

[[noreturn]] void throwRenameFailure(const fs::path& from, const fs::path& to, const std::error_code& error) {
    throw fs::filesystem_error("cannot rename", from, to, error);
}

// Files open in a directory keep it from being renamed, and a running game holds its own open for
// as long as it runs; so does a permission problem. Only a process holding the old client's
// programs makes it the running game.
void rejectHeldClient(const fs::path& directory, const std::error_code& renameError) {
    if (!isFileBusyError(renameError)) return;
    const std::vector<std::wstring> holders = processesHoldingClient(directory);
    std::wstring names;
    for (const std::wstring& holder : holders)
        names += (names.empty() ? L"" : L",") + holder;
    logEvent("install.old_client_held", {{"processes", holders.size()}, {"names", names}});
    if (const char* sentence = heldClientSentence(renameError, holders.size())) throw Error(sentence);
}

// Moves the staged client into place; the old installation is kept aside until that worked. A
// scanner that has just opened a fresh file makes a rename fail for a moment: those are retried.
void swapIntoPlace(const fs::path& content, const fs::path& directory, const fs::path& parent,
                   const CancelToken& token, std::chrono::milliseconds busyWait) {
    const fs::path previous = sibling(directory, uniqueSuffix(L".previous-"));
    bool moved = false;
    if (::GetFileAttributesW(directory.c_str()) != INVALID_FILE_ATTRIBUTES) {
        const std::error_code error =
            moveFileWhenFree(directory.c_str(), previous.c_str(), 0, &token, busyWait);
        if (error) {
            logEvent("install.rename_failed",
                     {{"from", directory}, {"to", previous}, {"error", error.value()}});
            rejectHeldClient(directory, error);
            throwRenameFailure(directory, previous, error);
        }
        moved = true;
    }
    const auto restore = [&] {
        if (!moved) return;
        const std::error_code error =
            moveFileWhenFree(previous.c_str(), directory.c_str(), 0, nullptr, busyWait);
        if (error) throwRenameFailure(previous, directory, error);
    };
    std::error_code error;
    try {
        error = moveFileWhenFree(content.c_str(), directory.c_str(), 0, &token, busyWait);
    } catch (const Canceled&) {
        restore();
        throw;
    }
    if (error) {
        logEvent("install.rename_failed", {{"from", content}, {"to", directory}, {"error", error.value()}});
        restore();
        throwRenameFailure(content, directory, error);
    }
    logEvent("install.swapped", {{"directory", directory}, {"replacedOld", moved}});
    if (moved) removeTreeSafely(previous, parent);
}

// The parent of the install directory, created if missing.
fs::path makeParent(const fs::path& directory) {
    const fs::path parent = parentDirectory(directory);
    std::error_code created;
    fs::create_directories(parent, created);
    if (created == std::errc::permission_denied) throw Error(unwritableFolder);
    if (created) throw fs::filesystem_error("cannot create directory", parent, created);
    return parent;
}

} // namespace

InstallTransaction::InstallTransaction(const LauncherConfig& config, CancelToken& token,
                                       std::chrono::milliseconds busyWait)
    : package_((validateLauncherConfig(config), config.document.at("clientPackage"))), token_(token),
      busyWait_(busyWait), directory_(installDirectory(config)) {
    logEvent("install.start",
             {{"directory", directory_}, {"version", package_.value("version", std::string())}});
    rejectDirectoryLinks(directory_);
    rejectOccupiedDirectory(directory_);
    parent_ = makeParent(directory_);
    lock_ = takeInstallLock(sibling(directory_, L".install.lock"));
    // Staging and previous paths are longer than the install directory's own by a name and a token:
    // the \\?\ form keeps them working beyond MAX_PATH.
    longDirectory_ = extendedLengthPath(directory_);
    longParent_ = parentDirectory(longDirectory_);
    removeInterruptedInstalls(longDirectory_, longParent_, token_, busyWait_);
    const fs::path staging = sibling(longDirectory_, uniqueSuffix(L".install-"));
    makeDirectory(staging);
    staging_ = staging; // from here on the destructor removes it
}

InstallTransaction::~InstallTransaction() {
    // On every way out the staging directory goes, before the lock is released.
    if (!staging_.empty()) removeTreeSafely(staging_, longParent_);
}

fs::path InstallTransaction::makeContent() {
    const fs::path content = staging_ / L"content";
    makeDirectory(content);
    return content;
}

void InstallTransaction::complete(const fs::path& content, const json& files, const std::string& digest,
                                  const ProgressCallback& progress) {
    std::wstring executable;
    resolveStagedPackagePathInto(
        executable, content.native(), directory_.native(),
        multiByteToUtf16(package_.at("executablePath").get<std::string>(), codePageUtf8));
    const bool complete = isUnityClientLayout(executable);
    logEvent("install.layout",
             {{"executable", package_.at("executablePath").get<std::string>()}, {"complete", complete}});
    if (!complete) throw Error(incompleteClientMessage);
    const std::string marker =
        serializeInstalledMarker(package_.value("version", std::string()), digest, files);
    rejectUnreadableMarker(marker);
    writeFileAtomicallyWhenFree(content / installedMarkerName, marker, &token_, busyWait_);
    logEvent("install.marker", {{"files", files.size()}, {"bytes", marker.size()}});

    throwIfCanceled(token_); // the last point at which the player can still keep the old client
    report(progress, L"正在安装客户端", 0, 0);
    swapIntoPlace(content, longDirectory_, longParent_, token_, busyWait_);
    report(progress, L"客户端已就绪", 1, 1);
    logEvent("install.done");
}

} // namespace launcher
