#include "foundation/file_io.h"

#include "foundation/busy_file.h"
#include "foundation/current_user_security.h"
#include "foundation/error.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "foundation/unique_name.h"

#include <windows.h>

#include <algorithm>

namespace launcher {
namespace {

constexpr DWORD maxChunk = 1u << 30;

void writeAndFlush(const std::filesystem::path& path, std::string_view bytes,
                   CurrentUserOnlySecurity* security) {
    UniqueFile file{::CreateFileW(path.c_str(), GENERIC_WRITE, 0, security ? security->attributes() : nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (!file) throw Error("无法写入文件，请检查目录权限和磁盘空间。");
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), maxChunk));
        DWORD written = 0;
        if (!::WriteFile(file.get(), bytes.data(), chunk, &written, nullptr) || written == 0)
            throw Error("无法写入文件，请检查目录权限和磁盘空间。");
        bytes.remove_prefix(written);
    }
    // The data must reach the device before the rename makes it visible; otherwise a power cut
    // can leave the new name pointing at an empty or partial file.
    if (!::FlushFileBuffers(file.get())) throw Error("无法写入文件，请检查目录权限和磁盘空间。");
}

std::error_code moveFileOnce(const wchar_t* from, const wchar_t* to, DWORD flags) {
    if (::MoveFileExW(from, to, flags)) return {};
    return std::error_code(static_cast<int>(::GetLastError()), std::system_category());
}

// How the new content takes the target's place: at once, or waiting for a scanner to let go.
struct Placement {
    DWORD moveFlags;
    bool waitWhileBusy;
    const CancelToken* token;
    CurrentUserOnlySecurity* security = nullptr; // the new file's DACL; null: the folder's
    std::chrono::milliseconds busyWait = busyFileWait;
};

void placeNewContent(const std::filesystem::path& target, std::string_view bytes,
                     const Placement& placement) {
    const DWORD moveFlags = placement.moveFlags;
    const std::filesystem::path temporary =
        target.native() + L".tmp-" + multiByteToUtf16(newUniqueHexName(), codePageUtf8);
    try {
        writeAndFlush(temporary, bytes, placement.security);
        const std::error_code error = placement.waitWhileBusy
                                          ? moveFileWhenFree(temporary.c_str(), target.c_str(), moveFlags,
                                                             placement.token, placement.busyWait)
                                          : moveFileOnce(temporary.c_str(), target.c_str(), moveFlags);
        const bool replacing = (moveFlags & MOVEFILE_REPLACE_EXISTING) != 0;
        if (!replacing && (error.value() == ERROR_ALREADY_EXISTS || error.value() == ERROR_FILE_EXISTS))
            throw Error("文件已存在：" + utf16ToUtf8(target.native()));
        if (error) throw Error("无法保存文件，请检查目录权限。");
    } catch (...) {
        ::DeleteFileW(temporary.c_str());
        throw;
    }
}

} // namespace

std::string readFileLimited(const std::filesystem::path& path, std::uint64_t maxBytes) {
    const std::uintmax_t size = std::filesystem::file_size(path);
    if (size > maxBytes) throw Error("文件过大。");

    UniqueFile file{::CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (!file) throw Error("无法读取文件。");

    std::string bytes(static_cast<std::size_t>(size), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, maxChunk));
        DWORD read = 0;
        if (!::ReadFile(file.get(), bytes.data() + done, chunk, &read, nullptr) || read == 0)
            throw Error("无法读取文件。");
        done += read;
    }
    return bytes;
}

void writeFileAtomically(const std::filesystem::path& target, std::string_view bytes) {
    // Called on the window thread: a wait here would freeze the window, close button included.
    placeNewContent(target, bytes, {MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH, false, nullptr});
}

void writeFileAtomicallyWhenFree(const std::filesystem::path& target, std::string_view bytes,
                                 const CancelToken* token, std::chrono::milliseconds busyWait) {
    // A scanner that opened the target or the new file makes the replace fail for a moment.
    placeNewContent(target, bytes,
                    {MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH, true, token, nullptr, busyWait});
}

void writeNewFileAtomically(const std::filesystem::path& target, std::string_view bytes, FileAccess access) {
    // Without MOVEFILE_REPLACE_EXISTING the rename itself refuses an existing target, with no race.
    // A rename on the volume keeps the file's own DACL.
    if (access == FileAccess::currentUserOnly) {
        CurrentUserOnlySecurity security;
        placeNewContent(target, bytes, {MOVEFILE_WRITE_THROUGH, true, nullptr, &security});
        return;
    }
    placeNewContent(target, bytes, {MOVEFILE_WRITE_THROUGH, true, nullptr});
}

} // namespace launcher
