#include "net/file_digest.h"

#include "foundation/error.h"
#include "foundation/unique_handle.h"
#include "net/sha256_hash.h"

#include <memory>

namespace launcher {

std::string sha256OfFile(HANDLE file, const CancelToken* token) {
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) throw Error("文件校验失败。");
    Sha256Hash digest;
    constexpr DWORD chunk = 1 << 20;
    const auto buffer = std::make_unique<char[]>(chunk);
    for (DWORD read = 0;;) {
        if (token != nullptr) throwIfCanceled(*token);
        if (!::ReadFile(file, buffer.get(), chunk, &read, nullptr)) throw Error("文件校验失败。");
        if (read == 0) return digest.finishHex();
        digest.update(buffer.get(), read);
    }
}

std::string sha256OfFile(const std::filesystem::path& path, const CancelToken* token) {
    const UniqueFile file{::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)};
    if (!file) throw Error("无法读取文件。");
    return sha256OfFile(file.get(), token);
}

} // namespace launcher
