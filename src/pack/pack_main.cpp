// gatehouse-pack: the publisher's tool that packs a client folder into a package every launcher
// accepts, checks a package as the launcher would, signs and renews update manifests, writes, checks
// and prunes the content store beside them, and checks a hosted deployment. A thin entry point over the
// launcher's core.
#include "foundation/error.h"
#include "foundation/own_executable.h"
#include "foundation/text.h"
#include "foundation/utc_clock.h"
#include "pack/command_report.h"
#include "pack/console_text.h"
#include "pack/deployment_verify.h"
#include "pack/manifest_renewal.h"
#include "pack/package_check.h"
#include "pack/pack_command.h"
#include "pack/store_check.h"
#include "pack/store_prune.h"
#include "pack/tool_arguments.h"
#include "pack/tool_config.h"
#include "pack/update_publish.h"
#include "update/chunk_index.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace launcher {
namespace {

using nlohmann::json;

// Cancelled by Ctrl+C or Ctrl+Break on the console's own thread; the work notices between chunks.
CancelToken interruption;

BOOL WINAPI onConsoleControl(DWORD event) noexcept {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    cancel(interruption);
    return TRUE;
}

std::string megabytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

class ProgressReport {
public:
    void operator()(const std::wstring& step, std::uint64_t files, std::uint64_t totalFiles,
                    std::uint64_t bytes, std::uint64_t totalBytes) {
        const auto now = std::chrono::steady_clock::now();
        if (step != step_) {
            step_ = step;
            stepStart_ = now;
        }
        const double seconds = std::chrono::duration<double>(now - stepStart_).count();
        char rate[32] = "";
        if (seconds > 0.5)
            std::snprintf(rate, sizeof rate, ", %.1f MB/s", static_cast<double>(bytes) / 1e6 / seconds);
        std::string line = utf16ToUtf8(step);
        if (totalFiles != 0)
            line += "：" + std::to_string(files) + "/" + std::to_string(totalFiles) + " 个文件";
        if (totalBytes != 0) line += "，" + megabytes(bytes) + "/" + megabytes(totalBytes) + rate;
        line_.show(line);
    }
    void finish() { line_.finish(); }

private:
    ProgressLine line_;
    std::wstring step_;
    std::chrono::steady_clock::time_point stepStart_{};
};

std::string summaryText(const std::string& heading, const PackageSummary& summary) {
    return heading + "\n" + "size:    " + std::to_string(summary.bytes) + " bytes\n" +
           "entries: " + std::to_string(summary.entries) + " (" + std::to_string(summary.files) + " files, " +
           std::to_string(summary.unpackedBytes) + " bytes unpacked)\n" + "sha256:  " + summary.sha256 + "\n";
}

json summaryJson(const std::filesystem::path& package, const PackageSummary& summary) {
    return {{"package", utf16ToUtf8(package.native())},
            {"bytes", summary.bytes},
            {"entries", summary.entries},
            {"files", summary.files},
            {"unpackedBytes", summary.unpackedBytes},
            {"sha256", summary.sha256}};
}

CommandResult runPack(const ToolCommand& command, ProgressReport& progress) {
    const PackRequest& request = command.pack;
    const PackageSummary summary =
        packClient(request, ownExecutablePath().parent_path(), interruption, std::ref(progress));
    progress.finish();
    CommandResult result{.text = summaryText("package: " + utf16ToUtf8(request.output.native()), summary),
                         .fields = summaryJson(request.output, summary),
                         .warnings = {}};
    result.fields["config"] = nullptr;
    if (request.configFile) {
        result.text += "config:  " + utf16ToUtf8(request.configFile->native()) + " (updated)\n";
        result.fields["config"] = utf16ToUtf8(request.configFile->native());
    }
    return result;
}

// What a store check found, after the package's own line.
void addStoreCheck(CommandResult& result, const std::vector<CheckedStoreIndex>& checked) {
    json indexes = json::array();
    for (const CheckedStoreIndex& index : checked) {
        const std::string file = utf16ToUtf8(index.file.native());
        result.text += "OK " + file + ": version " + index.version + ", " + std::to_string(index.files) +
                       " files and " + std::to_string(index.directories) + " folders as in the package, " +
                       std::to_string(index.chunks) + " chunks in " + std::to_string(index.packs) +
                       " packs (" + std::to_string(index.packBytes) + " bytes)\n";
        indexes.push_back({{"index", file},
                           {"version", index.version},
                           {"files", index.files},
                           {"directories", index.directories},
                           {"chunks", index.chunks},
                           {"packs", index.packs},
                           {"packBytes", index.packBytes}});
    }
    result.fields["store"] = {{"indexes", std::move(indexes)}};
}

CommandResult runCheck(const ToolCommand& command, ProgressReport& progress) {
    const ToolConfig config = loadToolConfig(command.configFile, ownExecutablePath().parent_path());
    if (command.configFile) validateToolConfig(config.effective, config.file);
    const std::string executable =
        config.effective.document.at("clientPackage").at("executablePath").get<std::string>();
    const auto bytesProgress = [&](const std::wstring& status, std::uint64_t done, std::uint64_t total) {
        progress(status, 0, 0, done, total);
    };
    const PackageSummary summary =
        checkClientPackage(command.package, config.effective, executable, command.configFile.has_value(),
                           std::nullopt, interruption, bytesProgress);
    std::vector<CheckedStoreIndex> checked;
    if (command.store)
        checked = checkContentStore(command.package, *parseStoreDigest(summary.sha256), summary.bytes,
                                    *command.store, interruption, bytesProgress);
    progress.finish();
    CommandResult result{
        .text = "OK " + utf16ToUtf8(command.package.native()) + ": " + std::to_string(summary.bytes) +
                " bytes, " + std::to_string(summary.entries) + " entries, " +
                std::to_string(summary.unpackedBytes) + " bytes unpacked, sha256 " + summary.sha256 + "\n",
        .fields = summaryJson(command.package, summary),
        .warnings = {}};
    if (command.store) addStoreCheck(result, checked);
    return result;
}

CommandResult runKeygen(const ToolCommand& command) {
    const UpdateSigningKey key = createUpdateKeyFile(command.keyFile);
    return {.text = "key file:   " + utf16ToUtf8(command.keyFile.native()) + "\n" +
                    "public key: " + key.publicKeyHex + "\n" +
                    "build with: -DLAUNCHER_UPDATE_PUBLIC_KEY=" + key.publicKeyHex + "\n",
            .fields = {{"keyFile", utf16ToUtf8(command.keyFile.native())}, {"publicKey", key.publicKeyHex}},
            .warnings = {"密钥文件含有签名私钥，请离线妥善保管，切勿提交到代码仓库或随启动器分发。\n"
                         "  warning: the key file holds the private signing key. Keep it secret and offline; "
                         "never commit it or ship it."}};
}

// What publishing into a store wrote, and what to upload from it.
void addStorePublication(CommandResult& result, const StorePublication& store,
                         const std::filesystem::path& folder) {
    const std::string shownFolder = utf16ToUtf8(folder.native());
    result.text += "store:    " + shownFolder + ": " + std::to_string(store.chunks) + " chunks, " +
                   std::to_string(store.newChunks) + " new (" + std::to_string(store.newChunkBytes) +
                   " bytes of content, " + std::to_string(store.newPackBytes) + " bytes in new packs)\n" +
                   "index:    " + store.indexUrl + "\n";
    for (std::size_t i = 0; i < store.upload.size(); ++i)
        result.text += std::string(i == 0 ? "upload:   " : "          ") + store.upload[i] + "\n";
    result.fields["store"] = {{"folder", shownFolder},
                              {"chunks", store.chunks},
                              {"newChunks", store.newChunks},
                              {"newChunkBytes", store.newChunkBytes},
                              {"newPackBytes", store.newPackBytes},
                              {"index", storeIndexMember(store)},
                              {"upload", store.upload}};
}

CommandResult runPublish(const ToolCommand& command, ProgressReport& progress) {
    const PublishSummary summary =
        publishUpdate(command.publish, ownExecutablePath().parent_path(), interruption,
                      [&](const std::wstring& status, std::uint64_t done, std::uint64_t total) {
                          progress(status, 0, 0, done, total);
                      });
    progress.finish();
    const UpdateManifest& manifest = summary.manifest;
    const std::string manifestPath = utf16ToUtf8(command.publish.manifest.native());
    CommandResult result;
    result.text = "manifest: " + manifestPath + " (signed)\n";
    result.fields = {{"manifest", manifestPath}};
    if (const auto& legacy = command.publish.legacyManifest) {
        const std::string legacyPath = utf16ToUtf8(legacy->native());
        result.text += "          " + legacyPath + " and " + legacyPath + ".sig (for earlier launchers)\n";
        result.fields["legacyManifest"] = legacyPath;
        result.fields["legacySignature"] = legacyPath + ".sig";
    }
    result.text += "sequence: " + std::to_string(manifest.sequence) + "\n" +
                   "expires:  " + formatUtcTime(manifest.expires) + "\n" +
                   "client:   " + command.publish.version + ", sha256 " + summary.package.sha256 + "\n";
    result.fields["sequence"] = manifest.sequence;
    result.fields["expires"] = formatUtcTime(manifest.expires);
    result.fields["clientPackage"] = manifest.clientPackage;
    result.fields["package"] = summaryJson(command.publish.package, summary.package);
    if (summary.store) addStorePublication(result, *summary.store, command.publish.store->folder);
    if (manifest.launcher) {
        result.text += "launcher: " + manifest.launcher->version + ", sha256 " + manifest.launcher->sha256 +
                       "\n" + "          looks for its updates at " + summary.launcherManifestUrl + "\n";
        result.fields["launcher"] = {{"version", manifest.launcher->version},
                                     {"downloadUrl", manifest.launcher->downloadUrl},
                                     {"sha256", manifest.launcher->sha256},
                                     {"manifestUrl", summary.launcherManifestUrl}};
    }
    return result;
}

CommandResult runRenew(const ToolCommand& command) {
    const UpdateManifest manifest = renewManifest(command.renew);
    const std::string manifestPath = utf16ToUtf8(command.renew.manifest.native());
    CommandResult result;
    result.text = "manifest: " + manifestPath + " (signed again)\n" +
                  "sequence: " + std::to_string(manifest.sequence) + "\n" +
                  "expires:  " + formatUtcTime(manifest.expires) + "\n";
    result.fields = {{"manifest", manifestPath},
                     {"sequence", manifest.sequence},
                     {"expires", formatUtcTime(manifest.expires)}};
    return result;
}

std::string findingLine(const VerifyFinding& finding) {
    const char* word = finding.outcome == VerifyFinding::Outcome::ok        ? "OK  "
                       : finding.outcome == VerifyFinding::Outcome::warning ? "WARN"
                                                                            : "FAIL";
    return std::string(word) + " " + finding.check + " " + finding.subject + ": expected " +
           finding.expected + "; actual " + finding.actual + "\n";
}

const char* outcomeName(VerifyFinding::Outcome outcome) {
    return outcome == VerifyFinding::Outcome::ok        ? "ok"
           : outcome == VerifyFinding::Outcome::warning ? "warning"
                                                        : "failure";
}

// Each check is printed as it is made (the JSON object holds them all at the end). Exit status 1
// when a check failed; warnings alone pass.
CommandResult runVerify(const ToolCommand& command, ProgressReport& progress) {
    const std::vector<VerifyFinding> findings = verifyDeployment(
        command.verify, ownExecutablePath().parent_path(), currentUtcSeconds(), interruption,
        [&](const std::wstring& status, std::uint64_t done, std::uint64_t total) {
            progress(status, 0, 0, done, total);
        },
        [&](const VerifyFinding& finding) {
            progress.finish();
            if (!command.json) writeStandardOutput(findingLine(finding));
        });
    progress.finish();
    const auto count = [&](VerifyFinding::Outcome outcome) {
        return std::count_if(findings.begin(), findings.end(),
                             [&](const VerifyFinding& finding) { return finding.outcome == outcome; });
    };
    CommandResult result;
    result.exitCode = anyFailure(findings) ? exitRefused : exitDone;
    result.text = "verify: " + std::to_string(findings.size()) + " checks, " +
                  std::to_string(count(VerifyFinding::Outcome::failure)) + " failed, " +
                  std::to_string(count(VerifyFinding::Outcome::warning)) + " warnings\n";
    nlohmann::json checks = nlohmann::json::array();
    for (const VerifyFinding& finding : findings)
        checks.push_back({{"outcome", outcomeName(finding.outcome)},
                          {"check", finding.check},
                          {"subject", finding.subject},
                          {"expected", finding.expected},
                          {"actual", finding.actual}});
    result.fields = {{"checks", std::move(checks)},
                     {"failed", count(VerifyFinding::Outcome::failure)},
                     {"warned", count(VerifyFinding::Outcome::warning)}};
    return result;
}

CommandResult runPrune(const ToolCommand& command) {
    const PruneSummary summary = pruneContentStore(command.prune);
    const bool dry = command.prune.dryRun;
    CommandResult result;
    for (const std::string& kept : summary.kept)
        result.text += "kept:    " + kept + "\n";
    for (const std::string& removed : summary.removed)
        result.text += (dry ? "would remove: " : "removed: ") + removed + "\n";
    result.text += std::string(dry ? "would free: " : "freed:   ") + std::to_string(summary.freedBytes) +
                   " bytes\n" + "kept packs: " + std::to_string(summary.keptPackBytes) + " bytes, of which " +
                   std::to_string(summary.unusedBytes) +
                   " in chunks no kept index uses (packs never change once published, so they stay)\n";
    result.fields = {{"dryRun", dry},
                     {"kept", summary.kept},
                     {"removed", summary.removed},
                     {"freedBytes", summary.freedBytes},
                     {"keptPackBytes", summary.keptPackBytes},
                     {"unusedBytesInKeptPacks", summary.unusedBytes}};
    return result;
}

void printStats(std::chrono::steady_clock::time_point start) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    char text[128];
    std::snprintf(text, sizeof text, "stats: seconds=%.3f peak_working_set_bytes=%llu\n",
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                  static_cast<unsigned long long>(counters.PeakWorkingSetSize));
    writeStandardError(text);
}

// Runs the parsed command: its result, or the refusal it ended with.
CommandResult runCommand(const ToolCommand& command, ProgressReport& progress) {
    switch (command.kind) {
    case ToolCommand::Kind::pack:
        return runPack(command, progress);
    case ToolCommand::Kind::check:
        return runCheck(command, progress);
    case ToolCommand::Kind::keygen:
        return runKeygen(command);
    case ToolCommand::Kind::publish:
        return runPublish(command, progress);
    case ToolCommand::Kind::renew:
        return runRenew(command);
    case ToolCommand::Kind::verify:
        return runVerify(command, progress);
    case ToolCommand::Kind::prune:
        return runPrune(command);
    case ToolCommand::Kind::help:
        break;
    }
    return {};
}

// Prints how the command ended: the refusal on stderr, and with --json the one JSON object on stdout.
int report(const std::string& name, bool asJson, const ToolFailure& failure) {
    writeStandardError(refusalText(failure.refusal));
    if (asJson) writeStandardOutput(refusalJsonLine(name, failure.exitCode, failure.refusal));
    return failure.exitCode;
}

int run(const std::vector<std::wstring>& arguments) {
    const auto start = std::chrono::steady_clock::now();
    const std::string name = commandNameOf(arguments);
    ToolCommand command;
    try {
        command = parseToolArguments(arguments);
    } catch (const UsageError& error) {
        const int status = report(name, asksForJson(arguments), usageFailure(error.what()));
        writeStandardError(toolUsage());
        return status;
    }
    if (command.kind == ToolCommand::Kind::help) {
        writeStandardOutput(toolUsage());
        return exitDone;
    }
    ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
    ProgressReport progress;
    int status = exitDone;
    try {
        const CommandResult result = runCommand(command, progress);
        for (const std::string& warning : result.warnings)
            writeStandardError("gatehouse-pack: 警告：" + warning + "\n");
        writeStandardOutput(command.json ? resultJson(name, result) : result.text);
        status = result.exitCode;
    } catch (...) {
        progress.finish();
        status = report(name, command.json, toolFailureOf(std::current_exception()));
    }
    if (command.stats) printStats(start);
    return status;
}

} // namespace
} // namespace launcher

int wmain(int argc, wchar_t** argv) {
    // Delay-loaded system DLLs (the launcher's own list) come from System32, never from the folder
    // the tool sits in.
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    return launcher::run(std::vector<std::wstring>(argv + 1, argv + argc));
}
