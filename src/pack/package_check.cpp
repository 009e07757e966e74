#include "pack/package_check.h"

#include "filesystem/path_rules.h"
#include "foundation/error.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "install/client_install.h"
#include "install/installed_marker.h"
#include "install/package_extraction.h"
#include "install/unity_layout.h"
#include "net/file_digest.h"
#include "net/package_digest.h"
#include "pack/refused_entry.h"

#include <windows.h>

#include <unordered_map>

namespace launcher {
namespace {

using nlohmann::json;

std::string digestOf(const std::filesystem::path& package, std::uint64_t& bytes, const CancelToken& token) {
    UniqueFile file{::CreateFileW(package.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr)};
    LARGE_INTEGER size{}; // nobody may write to it while it is open here
    if (!file || !::GetFileSizeEx(file.get(), &size)) throw Error("无法打开客户端安装包。");
    bytes = static_cast<std::uint64_t>(size.QuadPart);
    return sha256OfFile(file.get(), &token);
}

std::uint64_t fileSize(const std::filesystem::path& package) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(package.c_str(), GetFileExInfoStandard, &data))
        throw Error("无法打开客户端安装包。");
    return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

// The package's entries as the layout check sees them once installed, keyed by lower-cased path.
std::unordered_map<std::wstring, LayoutEntry> installedLayout(const std::wstring& base,
                                                              const PackageVerification& listing) {
    std::unordered_map<std::wstring, LayoutEntry> layout;
    const auto addParents = [&](const std::wstring& path) {
        for (std::size_t end = path.rfind(L'\\'); end != std::wstring::npos && end > base.size();
             end = path.rfind(L'\\', end - 1))
            layout[toLowerCase(path.substr(0, end))] = LayoutEntry::directory;
    };
    for (const std::wstring& directory : listing.directories) {
        layout.try_emplace(toLowerCase(directory), LayoutEntry::emptyDirectory);
        addParents(directory);
    }
    for (const json& file : listing.files) {
        const std::wstring path =
            base + L'\\' + multiByteToUtf16(file.at("path").get<std::string>(), codePageUtf8);
        layout[toLowerCase(path)] = LayoutEntry::file;
        addParents(path);
    }
    return layout;
}

} // namespace

PackageSummary checkClientPackage(const std::filesystem::path& package, const LauncherConfig& config,
                                  const std::string& executablePath, bool compareDigest,
                                  const std::optional<std::string>& knownDigest, CancelToken& token,
                                  const ProgressCallback& progress) {
    const json& settings = config.document.at("clientPackage");
    PackageSummary summary;
    if (knownDigest) {
        summary.sha256 = *knownDigest;
        summary.bytes = fileSize(package);
    } else {
        summary.sha256 = digestOf(package, summary.bytes, token);
    }
    const std::string packageName = utf16ToUtf8(package.filename().native());
    if (compareDigest && !packageDigestMatches(settings.value("sha256", std::string()), summary.sha256))
        throw RefusedEntry(Error(packageDigestMismatchMessage), packageName);

    const std::filesystem::path directory = installDirectory(config);
    PackageVerification listing;
    try {
        verifyClientPackage(package, directory, settings.at("maxExtractBytes").get<std::uint64_t>(), token,
                            progress, listing);
        rejectUnreadableMarker(serializeInstalledMarker(settings.value("version", std::string()),
                                                        summary.sha256, listing.files));
    } catch (const Canceled&) {
        throw;
    } catch (const Error& refusal) {
        throw RefusedEntry(refusal, listing.entry.empty() ? packageName : listing.entry);
    }

    std::filesystem::path executable;
    try {
        executable = resolvePackagePath(directory, multiByteToUtf16(executablePath, codePageUtf8));
    } catch (const Error& refusal) {
        throw RefusedEntry(refusal, executablePath);
    }
    const auto layout = installedLayout(directory.native(), listing);
    const bool complete = isUnityClientLayoutIn(executable, [&](const std::wstring& path) {
        const auto found = layout.find(toLowerCase(path));
        return found == layout.end() ? LayoutEntry::missing : found->second;
    });
    if (!complete) throw RefusedEntry(Error(incompleteClientMessage), executablePath);

    summary.entries = listing.files.size() + listing.directories.size();
    summary.files = listing.files.size();
    for (const json& file : listing.files)
        summary.unpackedBytes += file.at("length").get<std::uint64_t>();
    return summary;
}

} // namespace launcher
