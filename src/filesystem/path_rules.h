#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace launcher {

inline constexpr std::size_t maxInstalledPathLength = 240;
inline constexpr std::wstring_view installedMarkerName = L".launcher-installed.json";

// Resolves a relative path from outside (archive entry, configured executable, marker entry) to
// an absolute path strictly below `base`, or throws Error with the rule it broke. Backslashes
// count as slashes; empty segments are skipped. Pure apart from making `base` absolute.
std::filesystem::path resolvePackagePath(const std::filesystem::path& base, std::wstring_view relativePath);

// The same for a base that is already absolute and normalised, as text in `result`, whose storage
// is reused: for checks of many entries, where building a path object for each costs more than
// the check.
void resolvePackagePathInto(std::wstring& result, std::wstring_view absoluteBase,
                            std::wstring_view relativePath);

// The same for content made under `stagingBase` that is moved to `finalBase` once complete: the
// rules, the length limit above all, apply to the path it will have there. The result, as text in
// `result`, lies under `stagingBase`. Both bases absolute and normalised.
void resolveStagedPackagePathInto(std::wstring& result, std::wstring_view stagingBase,
                                  std::wstring_view finalBase, std::wstring_view relativePath);

} // namespace launcher
