#include "install/installed_marker.h"

#include "foundation/error.h"
#include "foundation/file_io.h"
#include "foundation/text.h"
#include "install/directory_links.h"
#include "install/game_executable_path.h"
#include "install/path_rules.h"
#include "install/unity_layout.h"

#include <windows.h>

#include <unordered_set>
#include <vector>

namespace launcher {
namespace {

using nlohmann::json;

std::string textMember(const json& object, const char* key) {
    return object.value(key, std::string());
}

bool sameDigest(const std::string& a, const std::string& b) {
    return toLowerCase(multiByteToUtf16(a, codePageUtf8)) == toLowerCase(multiByteToUtf16(b, codePageUtf8));
}

// A regular file (not a directory, not a link) of exactly `length` bytes.
bool hasLength(const std::filesystem::path& path, std::uint64_t length) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    if (data.dwFileAttributes &
        (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE))
        return false;
    return (std::uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow) == length;
}

// Whether the directories between an already checked one and `file` are plain directories.
bool hasNoLinkAbove(const std::wstring& file, std::unordered_set<std::wstring>& checked) {
    std::vector<std::wstring> unchecked;
    for (std::wstring folder = file.substr(0, file.rfind(L'\\')); !checked.contains(folder);
         folder.resize(folder.rfind(L'\\'))) {
        if (folder.find(L'\\') == std::wstring::npos) return false; // walked past D: cannot happen
        unchecked.push_back(folder);
    }
    for (std::wstring& folder : unchecked) {
        const DWORD attributes = ::GetFileAttributesW(folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
            !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return false;
        checked.insert(std::move(folder));
    }
    return true;
}

bool markerMatches(const LauncherConfig& config, CancelToken& token) {
    const json& package = config.document.at("clientPackage");
    const std::filesystem::path directory = installDirectory(config);
    rejectDirectoryLinks(directory);
    const std::filesystem::path markerPath = directory / installedMarkerName;
    if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(markerPath))) return false;

    const json marker = json::parse(readFileLimited(markerPath, maxMarkerFileBytes));
    if (textMember(marker, "version") != textMember(package, "version")) return false;
    // A package configured without a digest (allowed over HTTPS) accepts the one the install recorded.
    const std::string configuredDigest = textMember(package, "sha256");
    if (!configuredDigest.empty() && !sameDigest(textMember(marker, "sha256"), configuredDigest))
        return false;
    const json& files = marker.at("files");
    if (!files.is_array() || files.empty()) return false;

    // D and its ancestors were checked above; what lies between D and each file is checked once
    // per directory, so a client of many files costs about one query per file.
    std::unordered_set<std::wstring> checkedDirectories{directory.native()};
    for (const json& file : files) {
        throwIfCanceled(token);
        const std::filesystem::path path = resolvePackagePathUnder(
            directory, multiByteToUtf16(file.at("path").get_ref<const std::string&>(), codePageUtf8));
        if (!hasNoLinkAbove(path.native(), checkedDirectories)) return false;
        if (!hasLength(path, file.at("length").get<std::uint64_t>())) return false;
    }
    return true;
}

} // namespace

std::string serializeInstalledMarker(const std::string& version, const std::string& sha256,
                                     const json& files) {
    const json marker = {{"files", files}, {"sha256", sha256}, {"version", version}};
    return marker.dump(-1, ' ', false, json::error_handler_t::strict);
}

bool isInstalledClientReady(const LauncherConfig& config, CancelToken& token) {
    throwIfCanceled(token);
    try {
        if (!isUnityClientLayout(gameExecutablePath(config))) return false;
        if (!config.document.value("gameExecutable", std::string()).empty()) return true;
        return markerMatches(config, token);
    } catch (const Canceled&) {
        throw;
    } catch (...) {
        return false;
    }
}

} // namespace launcher
