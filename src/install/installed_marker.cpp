#include "install/installed_marker.h"

#include "config/game_executable_path.h"
#include "filesystem/directory_links.h"
#include "filesystem/path_rules.h"
#include "foundation/diagnostic_log.h"
#include "foundation/error.h"
#include "foundation/file_io.h"
#include "foundation/text.h"
#include "install/marker_content.h"
#include "install/unity_layout.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <unordered_set>
#include <vector>

namespace launcher {
namespace {

using nlohmann::json;

std::string textMember(const json& object, const char* key) {
    return object.value(key, std::string());
}

// A regular file (not a directory, not a link) of exactly `length` bytes. A placeholder whose
// content is still in the cloud reports its full length and counts as present.
bool hasLength(const std::wstring& path, std::uint64_t length) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) return false;
    if (isLinkAt(path, data.dwFileAttributes)) return false;
    return (std::uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow) == length;
}

// Directories found to be plain directories, D among them.
struct CheckedDirectories {
    std::unordered_set<std::wstring> all;
    std::wstring last; // the files of one directory come in a row: most lookups end here
};

// Whether the directories between an already checked one and `file` are plain directories.
bool hasNoLinkAbove(std::wstring_view file, CheckedDirectories& checked) {
    const std::wstring_view fileFolder = file.substr(0, file.rfind(L'\\'));
    if (fileFolder == checked.last) return true;
    std::vector<std::wstring> unchecked;
    for (std::wstring folder(fileFolder); !checked.all.contains(folder); folder.resize(folder.rfind(L'\\'))) {
        if (folder.find(L'\\') == std::wstring::npos) return false; // walked past D: cannot happen
        unchecked.push_back(folder);
    }
    for (std::wstring& folder : unchecked) {
        const DWORD attributes = ::GetFileAttributesW(folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
            isLinkAt(folder, attributes))
            return false;
        checked.all.insert(std::move(folder));
    }
    checked.last = fileFolder;
    return true;
}

// Logs the first reason the installed client is not ready; always false.
bool notReady(std::string_view reason, const std::filesystem::path& path) {
    logEvent("check.not_ready", {{"reason", reason}, {"path", path}});
    return false;
}

// The version and digest the marker must carry; none for a client of whatever version.
struct ExpectedPackage {
    std::string version, digest;
};

// Whether `directory` holds the client its marker describes, of the expected package if one is given.
bool markerMatches(const std::filesystem::path& directory, const ExpectedPackage* expected,
                   CancelToken& token) {
    rejectDirectoryLinks(directory);
    const std::filesystem::path markerPath = directory / installedMarkerName;
    if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(markerPath)))
        return notReady("no marker", markerPath);

    MarkerContent marker;
    if (!readMarkerContent(readFileLimited(markerPath, maxMarkerFileBytes), marker))
        return notReady("marker unreadable", markerPath);

    // D and its ancestors were checked above; what lies between D and each file is checked once
    // per directory, so a client of many files costs about one query per file.
    CheckedDirectories checkedDirectories{{directory.native()}, directory.native()};
    const std::string& version = expected ? expected->version : marker.version.text;
    const std::string& digest = expected ? expected->digest : marker.sha256.text;
    const MarkerVerdict verdict =
        judgeMarker(marker, version, digest, directory.native(),
                    [&](const std::wstring& path, std::uint64_t length) -> const char* {
                        throwIfCanceled(token);
                        if (!hasNoLinkAbove(path, checkedDirectories)) return "folder missing or a link";
                        if (!hasLength(path, length)) return "file missing, a link or of another size";
                        return nullptr;
                    });
    const std::string_view reason = verdict.reason;
    if (reason == "version") {
        logEvent("check.not_ready",
                 {{"reason", reason}, {"installed", marker.version.text}, {"configured", version}});
    } else if (reason == "digest") {
        logEvent("check.not_ready",
                 {{"reason", reason}, {"installed", marker.sha256.text}, {"configured", digest}});
    } else if (!reason.empty()) {
        notReady(reason, verdict.path.empty() ? markerPath : std::filesystem::path(verdict.path));
    } else {
        logEvent("check.ready", {{"files", marker.files.size()}});
        return true;
    }
    return false;
}

// The check's answer, false for every failure but cancellation.
template <class Check>
bool falseOnFailure(const CancelToken& token, const Check& check) {
    throwIfCanceled(token);
    try {
        return check();
    } catch (const Canceled&) {
        throw;
    } catch (const std::exception& error) {
        logEvent("check.not_ready", {{"reason", "error"}, {"what", error.what()}});
        return false;
    } catch (...) {
        return false;
    }
}

} // namespace

std::string serializeInstalledMarker(const std::string& version, const std::string& sha256,
                                     const json& files) {
    const json marker = {{"files", files}, {"sha256", sha256}, {"version", version}};
    return marker.dump(-1, ' ', false, json::error_handler_t::strict);
}

bool isInstalledClientReady(const LauncherConfig& config, CancelToken& token) {
    return falseOnFailure(token, [&] {
        const std::filesystem::path executable = gameExecutablePath(config);
        if (!isUnityClientLayout(executable))
            return notReady("no complete client at the executable", executable);
        if (!config.document.value("gameExecutable", std::string()).empty()) {
            logEvent("check.ready", {{"executable", executable}});
            return true;
        }
        const json& package = config.document.at("clientPackage");
        const ExpectedPackage expected{textMember(package, "version"), textMember(package, "sha256")};
        return markerMatches(installDirectory(config), &expected, token);
    });
}

bool isRecordedClientComplete(const std::filesystem::path& directory, CancelToken& token) {
    return falseOnFailure(token, [&] { return markerMatches(directory, nullptr, token); });
}

} // namespace launcher
