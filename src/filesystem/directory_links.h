#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace launcher {

// Whether an entry with these attributes and reparse tag is a link: a reparse point whose tag the
// platform marks as a name surrogate (junction, mount point, symbolic link), or whose tag is
// unknown (0). Other reparse points (cloud placeholders, deduplicated or compressed files) are
// ordinary files and directories. INVALID_FILE_ATTRIBUTES describes no entry: not a link. Pure.
bool isLinkEntry(std::uint32_t attributes, std::uint32_t reparseTag);

// isLinkEntry for the entry at `path`, whose attributes the caller has just read. The tag is read
// only when those carry the reparse-point bit, from the parent's listing: the entry is neither
// opened (that could download a placeholder) nor followed. A tag that cannot be read counts as 0.
bool isLinkAt(const std::wstring& path, std::uint32_t attributes);

// Throws Error("安装路径不能包含目录链接。") if `path` or any existing ancestor is a link by
// isLinkEntry. Parts that do not exist yet are passed over, and so is the root (C:\, \\server\share).
void rejectDirectoryLinks(const std::filesystem::path& path);

// Deletes `target` and everything below it, but only if it sits directly in `expectedParent`
// and neither it, an ancestor nor anything below it is a link. Never follows a link and
// never reports failure: whatever cannot be removed stays. `stopRequested`, if given, is asked
// between entries; once it answers true the removal stops and leaves the rest.
void removeTreeSafely(const std::filesystem::path& target, const std::filesystem::path& expectedParent,
                      const std::function<bool()>& stopRequested = {}) noexcept;

} // namespace launcher
