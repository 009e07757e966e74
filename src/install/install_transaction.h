#pragma once

// What every install of the client shares, whatever brings its files: the checks of the install
// directory, the cross-process lock, a fresh staging directory beside the install directory, and
// at the end the layout check, the marker and the swap that keeps the old client until the new
// one is in place.
#include "config/launcher_config.h"
#include "foundation/cancel_token.h"
#include "foundation/file_io.h"
#include "foundation/progress.h"
#include "foundation/stay_awake.h"
#include "foundation/unique_handle.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <string>

namespace launcher {

class InstallTransaction {
public:
    // Validates the configuration, refuses an install directory behind a link or holding other
    // files, creates its parent, takes the lock (refused at once while another launcher installs),
    // removes what interrupted installs left and creates the staging directory. Throws Error with
    // the player's sentence, Canceled, or the platform's filesystem_error.
    InstallTransaction(const LauncherConfig& config, CancelToken& token, std::chrono::milliseconds busyWait);
    // Removes the staging directory, then releases the lock.
    ~InstallTransaction();
    InstallTransaction(const InstallTransaction&) = delete;
    InstallTransaction& operator=(const InstallTransaction&) = delete;

    const std::filesystem::path& directory() const { return directory_; }         // as configured, normalised
    const std::filesystem::path& parent() const { return parent_; }               // its parent
    const std::filesystem::path& staging() const { return staging_; }             // \\?\ form
    const std::filesystem::path& longDirectory() const { return longDirectory_; } // \\?\ form

    // Creates the staging content directory, which becomes the install directory, and returns it.
    std::filesystem::path makeContent();

    // Checks that the content is a complete client, writes its marker (the configured version,
    // `digest`, the `files` written), and swaps it into place; reports "正在安装客户端" and then
    // "客户端已就绪". The player's cancel is honoured up to the swap, not during it.
    void complete(const std::filesystem::path& content, const nlohmann::json& files,
                  const std::string& digest, const ProgressCallback& progress);

private:
    const nlohmann::json& package_;
    CancelToken& token_;
    std::chrono::milliseconds busyWait_;
    std::filesystem::path directory_;
    std::filesystem::path parent_;
    std::filesystem::path longDirectory_;
    std::filesystem::path longParent_;
    std::filesystem::path staging_;
    StayAwake awake_;
    UniqueFile lock_;
};

} // namespace launcher
