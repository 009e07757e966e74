#include "pack/pack_command.h"

#include "filesystem/path_rules.h"
#include "foundation/error.h"
#include "foundation/path_normal.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "foundation/unique_name.h"
#include "install/unity_layout.h"
#include "pack/archive_writer.h"
#include "pack/client_folder.h"
#include "pack/refused_entry.h"
#include "pack/tool_config.h"

#include <windows.h>

#include <algorithm>
#include <thread>

namespace launcher {
namespace {

void requireUnityLayout(const std::filesystem::path& folder, const std::string& executablePath) {
    std::wstring relative = multiByteToUtf16(executablePath, codePageUtf8);
    std::ranges::replace(relative, L'/', L'\\');
    const std::filesystem::path executable = extendedLengthPath(normalizedAbsolutePath(folder / relative));
    if (!isUnityClientLayout(executable)) throw RefusedEntry(Error(incompleteClientMessage), executablePath);
}

} // namespace

PackageSummary packClient(const PackRequest& request, const std::filesystem::path& toolDirectory,
                          CancelToken& token, const PackProgress& progress) {
    const auto report = [&](const wchar_t* step, std::uint64_t files, std::uint64_t totalFiles,
                            std::uint64_t bytes, std::uint64_t totalBytes) {
        if (progress) progress(step, files, totalFiles, bytes, totalBytes);
    };
    ToolConfig config = loadToolConfig(request.configFile, toolDirectory);
    const ClientRules rules = clientRules(config.effective);
    try {
        resolvePackagePath(rules.installDirectory, multiByteToUtf16(request.executablePath, codePageUtf8));
    } catch (const Error& refusal) {
        throw RefusedEntry(refusal, request.executablePath);
    }

    // A configuration the launcher would refuse is refused before any work, with any digest.
    if (!config.file.empty())
        publishedDocument(config, request.downloadUrl, std::string(64, '0'), request.version,
                          request.executablePath);

    report(L"正在检查客户端文件夹", 0, 0, 0, 0);
    const std::vector<PackEntry> entries = readClientFolder(request.clientFolder, rules, token);
    requireUnityLayout(request.clientFolder, request.executablePath);
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
    const ArchiveSummary archive =
        writeClientArchive(entries, partial, threads, token, [&](std::uint64_t files, std::uint64_t bytes) {
            report(L"正在压缩", files, totalFiles, bytes, totalBytes);
        });

    // The launcher's own reader reads it back: what is checked is what players download.
    const PackageSummary summary =
        checkClientPackage(partial, config.effective, request.executablePath, false, archive.sha256, token,
                           [&](const std::wstring&, std::uint64_t done, std::uint64_t total) {
                               report(L"正在校验", totalFiles, totalFiles, done, total);
                           });
    throwIfCanceled(token);
    if (!::MoveFileExW(partial.c_str(), output.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        throw Error("无法保存安装包：" + utf16ToUtf8(output.native()));
    placed = true;

    if (config.file.empty()) return summary;
    publishToConfigFile(config, request.downloadUrl, archive.sha256, request.version, request.executablePath);
    return summary;
}

} // namespace launcher
