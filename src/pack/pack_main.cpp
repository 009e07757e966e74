// gatehouse-pack: the publisher's tool that packs a client folder into a package every launcher
// accepts, checks a package as the launcher would, signs update manifests and checks a hosted
// deployment. A thin entry point over the launcher's core.
#include "foundation/error.h"
#include "foundation/own_executable.h"
#include "foundation/text.h"
#include "foundation/utc_clock.h"
#include "pack/console_text.h"
#include "pack/deployment_verify.h"
#include "pack/package_check.h"
#include "pack/pack_command.h"
#include "pack/refused_entry.h"
#include "pack/tool_arguments.h"
#include "pack/tool_config.h"
#include "pack/update_publish.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace launcher {
namespace {

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

void printSummary(const std::string& heading, const PackageSummary& summary) {
    writeStandardOutput(heading + "\n" + "size:    " + std::to_string(summary.bytes) + " bytes\n" +
                        "entries: " + std::to_string(summary.entries) + " (" + std::to_string(summary.files) +
                        " files, " + std::to_string(summary.unpackedBytes) + " bytes unpacked)\n" +
                        "sha256:  " + summary.sha256 + "\n");
}

void runPack(const ToolCommand& command, ProgressReport& progress) {
    const PackageSummary summary =
        packClient(command.pack, ownExecutablePath().parent_path(), interruption, std::ref(progress));
    progress.finish();
    printSummary("package: " + utf16ToUtf8(command.pack.output.native()), summary);
    if (command.pack.configFile)
        writeStandardOutput("config:  " + utf16ToUtf8(command.pack.configFile->native()) + " (updated)\n");
}

void runCheck(const ToolCommand& command, ProgressReport& progress) {
    const ToolConfig config = loadToolConfig(command.configFile, ownExecutablePath().parent_path());
    const std::string executable =
        config.effective.document.at("clientPackage").at("executablePath").get<std::string>();
    const PackageSummary summary = checkClientPackage(
        command.package, config.effective, executable, command.configFile.has_value(), std::nullopt,
        interruption, [&](const std::wstring& status, std::uint64_t done, std::uint64_t total) {
            progress(status, 0, 0, done, total);
        });
    progress.finish();
    writeStandardOutput("OK " + utf16ToUtf8(command.package.native()) + ": " + std::to_string(summary.bytes) +
                        " bytes, " + std::to_string(summary.entries) + " entries, " +
                        std::to_string(summary.unpackedBytes) + " bytes unpacked, sha256 " + summary.sha256 +
                        "\n");
}

void runKeygen(const ToolCommand& command) {
    const UpdateSigningKey key = createUpdateKeyFile(command.keyFile);
    writeStandardOutput("key file:   " + utf16ToUtf8(command.keyFile.native()) + "\n" +
                        "public key: " + key.publicKeyHex + "\n" +
                        "build with: -DLAUNCHER_UPDATE_PUBLIC_KEY=" + key.publicKeyHex + "\n");
    writeStandardError(
        "gatehouse-pack: 警告：密钥文件含有签名私钥，请离线妥善保管，切勿提交到代码仓库或随启动器分发。\n"
        "  warning: the key file holds the private signing key. Keep it secret and offline; "
        "never commit it or ship it.\n");
}

void runPublish(const ToolCommand& command, ProgressReport& progress) {
    const PublishSummary summary =
        publishUpdate(command.publish, ownExecutablePath().parent_path(), interruption,
                      [&](const std::wstring& status, std::uint64_t done, std::uint64_t total) {
                          progress(status, 0, 0, done, total);
                      });
    progress.finish();
    const UpdateManifest& manifest = summary.manifest;
    std::string text = "manifest: " + utf16ToUtf8(command.publish.manifest.native()) +
                       " (signed: " + utf16ToUtf8(command.publish.manifest.native()) + ".sig)\n" +
                       "sequence: " + std::to_string(manifest.sequence) + "\n" +
                       "expires:  " + formatUtcTime(manifest.expires) + "\n" +
                       "client:   " + command.publish.version + ", sha256 " + summary.package.sha256 + "\n";
    if (manifest.launcher)
        text += "launcher: " + manifest.launcher->version + ", sha256 " + manifest.launcher->sha256 + "\n" +
                "          looks for its updates at " + summary.launcherManifestUrl + "\n";
    writeStandardOutput(text);
}

std::string findingLine(const VerifyFinding& finding) {
    const char* word = finding.outcome == VerifyFinding::Outcome::ok        ? "OK  "
                       : finding.outcome == VerifyFinding::Outcome::warning ? "WARN"
                                                                            : "FAIL";
    return std::string(word) + " " + finding.check + " " + finding.subject + ": expected " +
           finding.expected + "; actual " + finding.actual + "\n";
}

// Exit status 1 when a check failed; warnings alone pass.
int runVerify(const ToolCommand& command, ProgressReport& progress) {
    const std::vector<VerifyFinding> findings = verifyDeployment(
        command.verify, ownExecutablePath().parent_path(), currentUtcSeconds(), interruption,
        [&](const std::wstring& status, std::uint64_t done, std::uint64_t total) {
            progress(status, 0, 0, done, total);
        },
        [&](const VerifyFinding& finding) {
            progress.finish();
            writeStandardOutput(findingLine(finding));
        });
    progress.finish();
    const auto count = [&](VerifyFinding::Outcome outcome) {
        return std::to_string(
            std::count_if(findings.begin(), findings.end(),
                          [&](const VerifyFinding& finding) { return finding.outcome == outcome; }));
    };
    writeStandardOutput("verify: " + std::to_string(findings.size()) + " checks, " +
                        count(VerifyFinding::Outcome::failure) + " failed, " +
                        count(VerifyFinding::Outcome::warning) + " warnings\n");
    return anyFailure(findings) ? 1 : 0;
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

int run(const std::vector<std::wstring>& arguments) {
    const auto start = std::chrono::steady_clock::now();
    ToolCommand command;
    try {
        command = parseToolArguments(arguments);
    } catch (const UsageError& error) {
        writeStandardError(std::string("gatehouse-pack: ") + error.what() + "\n" + toolUsage());
        return 2;
    }
    if (command.kind == ToolCommand::Kind::help) {
        writeStandardOutput(toolUsage());
        return 0;
    }
    ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
    ProgressReport progress;
    int status = 0;
    try {
        switch (command.kind) {
        case ToolCommand::Kind::pack:
            runPack(command, progress);
            break;
        case ToolCommand::Kind::check:
            runCheck(command, progress);
            break;
        case ToolCommand::Kind::keygen:
            runKeygen(command);
            break;
        case ToolCommand::Kind::publish:
            runPublish(command, progress);
            break;
        case ToolCommand::Kind::verify:
            status = runVerify(command, progress);
            break;
        case ToolCommand::Kind::help:
            break;
        }
    } catch (const Canceled& canceled) {
        progress.finish();
        writeStandardError(std::string("gatehouse-pack: ") + canceled.what() + "\n");
        status = 130; // as shells report an interrupted command, so scripts can tell it from a refusal
    } catch (const RefusedEntry& refusal) {
        progress.finish();
        writeStandardError(std::string("gatehouse-pack: ") + refusal.what() + "\n  entry: " + refusal.entry +
                           "\n");
        status = 1;
    } catch (const Error& error) {
        progress.finish();
        writeStandardError(std::string("gatehouse-pack: ") + error.what() + "\n");
        status = 1;
    } catch (const std::exception& error) {
        progress.finish();
        writeStandardError(std::string("gatehouse-pack: 操作失败：") + error.what() + "\n");
        status = 1;
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
