#pragma once

// The launcher's rules for a package's entries as the tool applies them, to a client folder before
// it is packed and to a package before it is published: the launcher's own checks decide, and a
// refusal says which rule, which entry, and what the launcher allows against what the entry has.
#include "filesystem/path_rules.h"
#include "install/unity_layout.h"
#include "pack/tool_refusal.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace launcher {

// Refuses, as the install does, more entries than a package may hold (rule entry-count); `subject`
// names the folder or package.
void checkEntryCount(std::uint64_t entries, RefusalSubject kind, const std::string& subject);

// Refuses, as the install does, entries adding up to more than `maxExtractBytes` (rule
// max-extract-bytes, with the whole total); `sizes` are the entries' unpacked sizes.
void checkEntryBytes(const std::vector<std::uint64_t>& sizes, std::uint64_t maxExtractBytes,
                     RefusalSubject kind, const std::string& subject);

// An entry's name as the install reads it, and as the operator is shown it.
struct EntryName {
    std::wstring name;
    std::string shown;
};

// Checks the names of a package's entries, in archive order, as the install does below
// `installFolder` (absolute, normalised). Throws ToolRefusal: the path rule the first refused
// entry breaks, or the earlier entry it clashes with ignoring letter case (rule
// entry-path-case-clash).
void checkEntryNames(std::size_t count, const std::function<EntryName(std::size_t index)>& nameAt,
                     const std::wstring& installFolder);

// The refusal of `shown` (an entry, or the configured executable) for breaking `breach` below
// `installFolder`: rule entry-path-<rule>; for a path too long, its full length against the limit.
ToolRefusal pathRuleRefusal(const PathRuleBreach& breach, const std::string& shown,
                            std::wstring_view installFolder);

// A package's entries as the layout check sees them once installed: what is at each full path,
// ignoring letter case as the file system does. A folder holding anything is a folder with files.
class InstalledLayout {
public:
    // `base`: the install folder the paths lie below (absolute, normalised).
    explicit InstalledLayout(std::wstring base) : base_(std::move(base)) {}
    void addFile(const std::wstring& path);
    void addFolder(const std::wstring& path);
    LayoutEntry operator()(const std::wstring& path) const;

private:
    void addParents(const std::wstring& path);
    std::wstring base_;
    std::unordered_map<std::wstring, LayoutEntry> entries_; // by lower-cased path
};

// Refuses a client whose Unity layout at `executable` (a full path below `folder`) is incomplete,
// naming the part missing by its path relative to `folder`: executable-not-exe,
// executable-not-in-package, or client-layout with the _Data folder or UnityPlayer.dll.
void requireUnityLayout(const std::wstring& folder, const std::filesystem::path& executable,
                        const std::function<LayoutEntry(const std::wstring& path)>& entryAt);

} // namespace launcher
