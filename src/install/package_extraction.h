#pragma once

#include "foundation/cancel_token.h"
#include "foundation/progress.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace launcher {

inline constexpr std::uint64_t maxPackageEntries = 200000;
inline constexpr std::size_t maxEntryNameBytes = 4095;

// Extracts the client package into the empty `contentDirectory` under the launcher's limits and
// path rules, and returns the files written as a JSON array of {"length", "path"} in archive
// order. Reports "正在解压客户端" (bytes written of the declared total) at most every 100 ms and
// "正在检查客户端" at the end. Throws Error with the player's sentence, Canceled, or the
// platform's filesystem_error for a failed directory creation. Refuses a declared total the volume
// has no room for before anything is written. Runs on the install worker.
// `installedDirectory`, when given, is where the content will be moved once complete: the path
// rules then apply to the entries' paths there.
nlohmann::json extractClientPackage(const std::filesystem::path& package,
                                    const std::filesystem::path& contentDirectory,
                                    std::uint64_t maxTotalBytes, CancelToken& token,
                                    const ProgressCallback& progress,
                                    const std::filesystem::path& installedDirectory = {});

// The same reading, rules and checks of every entry's bytes (inflated, CRC-32 and size checked)
// for a package that is only to be judged: nothing is written and no free space is asked for.
// `installedDirectory` is the base of the entries' paths. On a refusal `entry` names the entry it
// concerns as the archive does ("index: name"), empty when the archive as a whole was refused.
struct PackageVerification {
    nlohmann::json files = nlohmann::json::array(); // as extractClientPackage returns them
    std::vector<std::wstring> directories;          // absolute paths of the directory entries
    std::string entry;
};
void verifyClientPackage(const std::filesystem::path& package,
                         const std::filesystem::path& installedDirectory, std::uint64_t maxTotalBytes,
                         CancelToken& token, const ProgressCallback& progress, PackageVerification& result);

// The rules above that need no archive, for a publisher who checks a client before packing it.
// Throws Error("安装包文件数量过多。") for more entries than a package may hold.
void checkPackageEntryCount(std::uint64_t entries);
// Adds an entry's size to `total`, or throws Error("解压内容超过大小限制或 ZIP 无效。") when that
// would pass `maxTotalBytes`.
void addPackageEntrySize(std::uint64_t& total, std::uint64_t size, std::uint64_t maxTotalBytes);
// Throws Error(unsupportedEntryMessage): what a link or unreadable entry gets.
[[noreturn]] void refuseUnsupportedEntry();

// Creates `directory` (absolute) and its missing ancestors; an existing directory is fine. Throws
// the platform's filesystem_error.
void createDirectoryChain(const std::wstring& directory);

// What the extraction refuses a link, an encrypted entry or another compression method with, and
// an entry whose bytes do not inflate to its declared size and CRC-32.
inline constexpr const char* unsupportedEntryMessage = "安装包包含链接、加密文件或不支持的格式。";
inline constexpr const char* damagedEntryMessage = "安装包文件损坏或解压不完整，请重新下载。";

// Where entries land: each name resolved by the path rules, and no two targets equal ignoring case.
class PackageEntryPaths {
public:
    // Content made under `stagingBase` is moved to `finalBase`; both absolute and normalised.
    PackageEntryPaths(std::wstring stagingBase, std::wstring finalBase);
    // The entry's target under the staging base. Throws the path rules' Error, or
    // Error("安装包包含重复路径。") for a target already accepted.
    const std::wstring& accept(std::wstring_view name);

private:
    std::wstring stagingBase_;
    std::wstring finalBase_;
    std::wstring target_;
    std::unordered_set<std::wstring> seen_;
};

} // namespace launcher
