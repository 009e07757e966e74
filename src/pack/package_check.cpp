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
#include "pack/entry_rules.h"
#include "pack/tool_config.h"
#include "pack/tool_refusal.h"
#include "zip/zip_format.h"
#include "zip/zip_reader.h"

#include <windows.h>

#include <functional>

namespace launcher {
namespace {

using nlohmann::json;

[[noreturn]] void refuseUnreadable(const std::string& shown) {
    const DWORD error = ::GetLastError();
    throw ToolRefusal("无法读取安装包。", {.rule = "package-unreadable",
                                           .kind = RefusalSubject::file,
                                           .subject = shown,
                                           .expected = {},
                                           .actual = systemReason(static_cast<int>(error))});
}

UniqueFile openPackage(const std::filesystem::path& package, const std::string& shown) {
    // Nobody may write to it while it is open here.
    UniqueFile file{::CreateFileW(package.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr)};
    if (!file) refuseUnreadable(shown);
    return file;
}

std::uint64_t fileSize(HANDLE file, const std::string& shown) {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size)) refuseUnreadable(shown);
    return static_cast<std::uint64_t>(size.QuadPart);
}

// The rules over the archive's directory alone, each refusal naming its values: the entry count,
// the unpacked total and every name, decoded as the install decodes it. What the directory cannot
// tell (links, damaged data) is left to the install's own reading that follows.
void checkArchiveDirectory(const std::filesystem::path& package, const std::string& shown,
                           const std::wstring& installFolder, std::uint64_t maxExtractBytes) {
    ZipReader reader = openPackageArchive(package, shown);
    checkEntryCount(reader.entryCount(), RefusalSubject::file, shown);
    std::vector<std::uint64_t> sizes;
    std::vector<EntryName> names;
    for (std::uint64_t index = 0; index < reader.entryCount(); ++index) {
        ZipEntryStat stat;
        std::string raw;
        if (!reader.stat(index, stat) || !reader.name(index, raw)) return;
        sizes.push_back(stat.m_uncomp_size);
        const bool utf8 = (stat.m_bit_flag & zipUtf8NameFlag) != 0;
        std::wstring name;
        try {
            name = multiByteToUtf16(raw, utf8 ? codePageUtf8 : codePageGbk);
        } catch (const Error&) {
            throw ToolRefusal("安装包条目的名称不是有效的文本。",
                              {.rule = "entry-name-encoding",
                               .kind = RefusalSubject::entry,
                               .subject = std::to_string(index) + ": " + raw,
                               .expected = utf8 ? "UTF-8, as its flag says"
                                                : "GBK, as names without the UTF-8 flag are read",
                               .actual = "bytes that are not"});
        }
        names.push_back({.name = name, .shown = shownText(name)});
    }
    checkEntryBytes(sizes, maxExtractBytes, RefusalSubject::file, shown);
    checkEntryNames(
        names.size(), [&](std::size_t index) { return names[index]; }, installFolder);
}

// A refusal of the install's reading of the entries, in the operator's terms.
[[noreturn]] void refuseEntry(const Error& refusal, const std::string& traceEntry, const std::string& shown) {
    // The trace names an entry as "index: name".
    const std::size_t colon = traceEntry.find(": ");
    const std::string entry = colon == std::string::npos ? traceEntry : traceEntry.substr(colon + 2);
    RefusalDetails details{.rule = "package-refused",
                           .kind = entry.empty() ? RefusalSubject::file : RefusalSubject::entry,
                           .subject = entry.empty() ? shown : entry,
                           .expected = {},
                           .actual = refusal.what()};
    if (std::string_view(refusal.what()) == unsupportedEntryMessage) {
        details.rule = "entry-unsupported";
        details.expected = "a file or folder, stored or deflated, not encrypted";
        details.actual = "a link, an encrypted entry or another compression method";
        throw ToolRefusal("安装包条目是链接、加密文件或不支持的压缩方式。", std::move(details));
    }
    if (std::string_view(refusal.what()) == damagedEntryMessage) {
        details.rule = "entry-damaged";
        details.expected = "bytes that inflate to the size and CRC-32 the archive declares";
        details.actual = "bytes that do not";
        throw ToolRefusal("安装包条目已损坏。", std::move(details));
    }
    throw ToolRefusal("启动器会拒绝这个安装包。", std::move(details));
}

void checkSizeAndDigest(const json& settings, const PackageSummary& summary, bool compareDigest,
                        const std::string& shown) {
    const std::uint64_t maxDownload = settings.at("maxDownloadBytes").get<std::uint64_t>();
    if (summary.bytes > maxDownload)
        throw ToolRefusal(
            "安装包大于 maxDownloadBytes，启动器会中止下载。",
            {.rule = "max-download-bytes",
             .kind = RefusalSubject::file,
             .subject = shown,
             .expected = "at most " + byteCount(maxDownload) + " (clientPackage.maxDownloadBytes)",
             .actual = byteCount(summary.bytes)});
    const std::string configured = settings.value("sha256", std::string());
    if (compareDigest && !packageDigestMatches(configured, summary.sha256))
        throw ToolRefusal("安装包的 SHA-256 与配置的 clientPackage.sha256 不符。",
                          {.rule = "package-digest-mismatch",
                           .kind = RefusalSubject::file,
                           .subject = shown,
                           .expected = configured,
                           .actual = summary.sha256});
}

} // namespace

PackageSummary checkClientPackage(const std::filesystem::path& package, const LauncherConfig& config,
                                  const std::string& executablePath, bool compareDigest,
                                  const std::optional<std::string>& knownDigest, CancelToken& token,
                                  const ProgressCallback& progress, const std::filesystem::path& shownAs) {
    const json& settings = config.document.at("clientPackage");
    const std::string shown = shownPath(shownAs.empty() ? package : shownAs);
    PackageSummary summary;
    {
        const UniqueFile file = openPackage(package, shown);
        summary.bytes = fileSize(file.get(), shown);
        summary.sha256 = knownDigest ? *knownDigest : sha256OfFile(file.get(), &token);
    }
    checkSizeAndDigest(settings, summary, compareDigest, shown);

    const std::filesystem::path directory = measuredInstallDirectory(config);
    const std::uint64_t maxExtractBytes = settings.at("maxExtractBytes").get<std::uint64_t>();
    checkArchiveDirectory(package, shown, directory.native(), maxExtractBytes);
    PackageVerification listing;
    try {
        verifyClientPackage(package, directory, maxExtractBytes, token, progress, listing);
    } catch (const Canceled&) {
        throw;
    } catch (const Error& refusal) {
        refuseEntry(refusal, listing.entry, shown);
    }
    const std::string marker =
        serializeInstalledMarker(settings.value("version", std::string()), summary.sha256, listing.files);
    try {
        rejectUnreadableMarker(marker);
    } catch (const Error&) {
        throw ToolRefusal("安装标记（每个文件的路径与大小）过大，启动器无法写入。",
                          {.rule = "installed-marker-size",
                           .kind = RefusalSubject::file,
                           .subject = shown,
                           .expected = "at most " + byteCount(maxMarkerFileBytes),
                           .actual = byteCount(marker.size())});
    }

    const std::wstring executableName = multiByteToUtf16(executablePath, codePageUtf8);
    const PathRuleBreach breach = findPathRuleBreach(directory.native(), executableName);
    if (breach.rule != PathRule::none) throw pathRuleRefusal(breach, executablePath, directory.native());
    InstalledLayout layout(directory.native());
    for (const std::wstring& folder : listing.directories)
        layout.addFolder(folder);
    for (const json& file : listing.files)
        layout.addFile(directory.native() + L'\\' +
                       multiByteToUtf16(file.at("path").get<std::string>(), codePageUtf8));
    requireUnityLayout(directory.native(), resolvePackagePath(directory, executableName), std::cref(layout));

    summary.entries = listing.files.size() + listing.directories.size();
    summary.files = listing.files.size();
    for (const json& file : listing.files)
        summary.unpackedBytes += file.at("length").get<std::uint64_t>();
    return summary;
}

ZipReader openPackageArchive(const std::filesystem::path& package, const std::string& shown) {
    ZipReader reader(openPackage(package, shown));
    if (!reader.open())
        throw ToolRefusal("安装包不是可读的 ZIP 文件。", {.rule = "package-not-zip",
                                                          .kind = RefusalSubject::file,
                                                          .subject = shown,
                                                          .expected = "a ZIP archive",
                                                          .actual = "no readable ZIP directory"});
    return reader;
}

} // namespace launcher
