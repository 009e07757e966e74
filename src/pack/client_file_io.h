#pragma once

// Reading the client's files while they are packed, and writing whole buffers: what the
// compression workers and the archive output share.
#include "foundation/cancel_token.h"
#include "foundation/unique_handle.h"
#include "pack/archive_writer.h"

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>

namespace launcher {

// The size of one read or write of a streamed file.
inline constexpr std::size_t packChunkBytes = 1 << 20;

// ToolRefusal client-file-unreadable naming `source`, with the system's reason (GetLastError).
[[noreturn]] void throwClientFileUnreadable(const std::wstring& source);

// ToolRefusal client-file-changed naming `source`.
[[noreturn]] void throwClientFileChanged(const std::wstring& source);

// Opens a client file for one sequential read. Throws client-file-unreadable.
UniqueFile openClientFile(const std::wstring& source);

// Reads up to `count` bytes; fewer only at the end of the file (a file on disk reads short only
// there, which spares a call per small file). Throws client-file-unreadable.
std::size_t readSome(HANDLE file, char* buffer, std::size_t count, const std::wstring& source);

// Called with each chunk of a file and whether it is the last.
using ChunkUse = std::function<void(char* bytes, std::size_t count, bool last)>;

// Reads the open file of `entry` from its start to its end in chunks of packChunkBytes through
// `buffer`, handing each to `use`. Throws client-file-changed when its size is no longer the one
// the folder showed, Canceled once `token` is cancelled.
void readClientFileChunks(HANDLE file, const PackEntry& entry, char* buffer, const CancelToken& token,
                          const ChunkUse& use);

// Writes all `count` bytes. Throws Error("无法写入安装包，请检查磁盘空间。").
void writeAll(HANDLE file, const char* bytes, std::size_t count);

} // namespace launcher
