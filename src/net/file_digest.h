#pragma once

#include "foundation/cancel_token.h"

#include <windows.h>

#include <filesystem>
#include <string>

namespace launcher {

// The SHA-256 of what the open `file` holds from its start, as 64 upper-case hexadecimal digits,
// read a mebibyte at a time whatever its size; moves its file pointer. Throws
// Error("文件校验失败。") when a read fails, the digest's own errors, or Canceled once `token` (if
// given) is cancelled.
std::string sha256OfFile(HANDLE file, const CancelToken* token = nullptr);

// The same for the file at `path`, open meanwhile to readers and deleters but not to writers.
// Throws Error("无法读取文件。") when it cannot be opened, or the errors above.
std::string sha256OfFile(const std::filesystem::path& path, const CancelToken* token = nullptr);

} // namespace launcher
