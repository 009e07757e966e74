#pragma once

#include "foundation/busy_file.h"
#include "foundation/cancel_token.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace launcher {

// Reads a whole file of at most `maxBytes` bytes. A missing or unreadable-size file raises the
// platform's filesystem_error; a larger file Error("文件过大。") before it is opened; a failed
// open or short read Error("无法读取文件。").
std::string readFileLimited(const std::filesystem::path& path, std::uint64_t maxBytes);

// Replaces `target` with `bytes` so that a reader, a crash or a power cut sees either the old
// content or the complete new one. On failure the target is untouched and no temporary file is
// left behind. Throws Error("无法写入文件，请检查目录权限和磁盘空间。") when the new content cannot
// be written, Error("无法保存文件，请检查目录权限。") when it cannot replace the target. Never
// waits: a target that is read-only or held open fails at once, so the window thread may call it.
void writeFileAtomically(const std::filesystem::path& target, std::string_view bytes);

// The same, but a replace refused because a scanner holds the file is tried again for at most
// `busyWait`. Throws Canceled once `token` (if given) is cancelled. For worker threads only.
void writeFileAtomicallyWhenFree(const std::filesystem::path& target, std::string_view bytes,
                                 const CancelToken* token, std::chrono::milliseconds busyWait = busyFileWait);

// Who may open a file written here: whoever the folder lets in, or the current user alone (for a
// file that holds a secret; the temporary file already has that DACL before it takes the name).
enum class FileAccess { inherited, currentUserOnly };

// The same for a file that must not exist yet: never replaces one, even one that appears meanwhile.
// Throws Error("文件已存在：<path>") when `target` exists, Error("无法设置文件权限。") when the
// current user's DACL cannot be made, or the errors above.
void writeNewFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                            FileAccess access = FileAccess::inherited);

} // namespace launcher
