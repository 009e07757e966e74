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

// Each rule above by name, for a report that must say which one a path broke (a publisher's tool);
// the launcher's own refusal sentences each stand for one or more of them.
enum class PathRule {
    none,
    emptyPath,          // whole-path rules
    absolutePath,       // starts with a slash or backslash
    colon,              // a drive or an alternate data stream
    nulCharacter,       //
    dotSegment,         // "." or ".."
    trailingDotOrSpace, // Windows drops them, so two names would open one file
    forbiddenCharacter, // a control character or one of <>"|?*
    reservedDeviceName, // CON, AUX, COM1, LPT¹, con.txt ...
    installedMarker,    // the launcher's own marker file
    tooLong,            // the full path is longer than maxInstalledPathLength
    noName,             // nothing but separators: the base itself
};

struct PathRuleBreach {
    PathRule rule = PathRule::none;
    std::wstring_view part; // the segment that broke it, a view into the relative path; the whole of it
                            // for the whole-path rules and the length
    std::size_t length = 0; // the full path's length in UTF-16 units, once the segments were accepted
};

// The rule the functions above refuse `relativePath` for under `absoluteBase` (absolute and
// normalised), by the same checks in the same order; `rule` is none when they accept it. Pure.
PathRuleBreach findPathRuleBreach(std::wstring_view absoluteBase, std::wstring_view relativePath);

} // namespace launcher
