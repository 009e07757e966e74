#include "pack/pack_command.h"

#include "filesystem/path_rules.h"
#include "foundation/error.h"
#include "foundation/path_normal.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "foundation/unique_name.h"
#include "pack/archive_writer.h"
#include "pack/client_folder.h"
#include "pack/entry_rules.h"
#include "pack/tool_config.h"
#include "pack/tool_refusal.h"

#include <windows.h>

#include <algorithm>
#include <functional>
#include <thread>

namespace launcher {
namespace {

// The folder's Unity layout as it will be installed, judged from what the folder walk found.
void requireUnityLayoutOf(const std::vector<PackEntry>& entries, const std::wstring& installFolder,
                          const std::string& executablePath) {
    const auto below = [&](const std::string& name) {
        std::wstring path = installFolder + L'\\' + multiByteToUtf16(name, codePageUtf8);
        std::ranges::replace(path, L'/', L'\\');
        if (path.ends_with(L'\\')) path.pop_back();
        return path;
    };
    InstalledLayout layout(installFolder);
    for (const PackEntry& entry : entries) {
        if (entry.directory)
            layout.addFolder(below(entry.name));
        else
            layout.addFile(below(entry.name));
    }
    requireUnityLayout(installFolder, below(executablePath), std::cref(layout));
}

} // namespace

PackageSummary packClient(const PackRequest& request, const std::filesystem::path& toolDirectory,
                          CancelToken& token, const PackProgress& progress) {
    const auto report = [&](const wchar_t* step, std::uint64_t files, std::uint64_t totalFiles,
                            std::uint64_t bytes, std::uint64_t totalBytes) {
        if (progress) progress(step, files, totalFiles, bytes, totalBytes);
    };
    ToolConfig config = loadToolConfig(request.configFile, toolDirectory);
    checkVersionText(request.version, "--version");
    // A configuration the launcher would refuse is refused before any work, with any digest.
    if (!config.file.empty())
        publishedDocument(config, request.downloadUrl, std::string(64, '0'), request.version,
                          request.executablePath);
    const ClientRules rules = clientRules(config.effective);
    const std::wstring& installFolder = rules.installDirectory.native();
    const std::wstring executable = multiByteToUtf16(request.executablePath, codePageUtf8);
    const PathRuleBreach breach = findPathRuleBreach(installFolder, executable);
    if (breach.rule != PathRule::none) throw pathRuleRefusal(breach, request.executablePath, installFolder);

    report(L"正在检查客户端文件夹", 0, 0, 0, 0);
    const std::vector<PackEntry> entries = readClientFolder(request.clientFolder, rules, token);
    requireUnityLayoutOf(entries, installFolder, request.executablePath);
    std::uint64_t totalFiles = 0, totalBytes = 0;
    for (const PackEntry& entry : entries) {
        totalFiles += entry.directory ? 0 : 1;
        totalBytes += entry.size;
    }

    const std::filesystem::path output = normalizedAbsolutePath(request.output);
    const std::filesystem::path partial =
        output.native() + L".partial-" + multiByteToUtf16(newUniqueHexName(), codePageUtf8);
    bool placed = false;
    const ScopeExit removePartial([&] {
        if (!placed) ::DeleteFileW(partial.c_str());
    });
    const unsigned threads =
        request.threads != 0 ? request.threads : std::max(1u, std::thread::hardware_concurrency());
    ArchiveSummary archive;
    try {
        archive = writeClientArchive(entries, partial, threads, token,
                                     [&](std::uint64_t files, std::uint64_t bytes) {
                                         report(L"正在压缩", files, totalFiles, bytes, totalBytes);
                                     });
    } catch (...) {
        // The package, and the temporary files of large entries, are written beside `output`.
        rethrowNamingFile(output, "package-write", "无法写入安装包。");
    }

    // The launcher's own reader reads it back: what is checked is what players download.
    const PackageSummary summary = checkClientPackage(
        partial, config.effective, request.executablePath, false, archive.sha256, token,
        [&](const std::wstring&, std::uint64_t done, std::uint64_t total) {
            report(L"正在校验", totalFiles, totalFiles, done, total);
        },
        output);
    throwIfCanceled(token);
    if (!::MoveFileExW(partial.c_str(), output.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = ::GetLastError();
        throw ToolRefusal("无法保存安装包。", {.rule = "package-write",
                                               .kind = RefusalSubject::file,
                                               .subject = shownPath(output),
                                               .expected = {},
                                               .actual = systemReason(static_cast<int>(error))});
    }
    placed = true;

    if (config.file.empty()) return summary;
    publishToConfigFile(config, request.downloadUrl, archive.sha256, request.version, request.executablePath);
    return summary;
}

} // namespace launcher
