#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>

namespace launcher {

inline constexpr const wchar_t* configFileName = L"launcher.config.json";
inline constexpr std::uint64_t maxConfigFileBytes = 65536;

// The combined configuration: the built-in document, overridden by launcher.config.json.
// Built once at start-up, read-only afterwards (workers read it concurrently).
struct LauncherConfig {
    nlohmann::json document;
    std::filesystem::path baseDirectory; // absolute, normalised directory of the executable
};

// The document built into the executable. Throws Error("启动器资源不完整。") if the executable does
// not carry it.
nlohmann::json builtInConfigDocument();

// Loads the built-in document and the file beside the executable, fills in missing members,
// upgrades outdated values and rewrites the file when anything changed. Throws Error, the JSON
// library's errors and the platform's filesystem_error unchanged.
LauncherConfig loadLauncherConfig(const std::filesystem::path& executableDirectory);

// The document as it is written to disk.
std::string serializeConfigDocument(const nlohmann::json& document);

// The required member loginProxyUrl as UTF-16.
std::wstring loginProxyUrl(const LauncherConfig& config);

// clientPackage.installDirectory made absolute against baseDirectory and normalised.
std::filesystem::path installDirectory(const LauncherConfig& config);

// A configured path: absolute as written, otherwise below baseDirectory; normalised.
std::filesystem::path resolveConfiguredPath(const LauncherConfig& config, const std::string& utf8Path);

} // namespace launcher
