#include "pack/client_file_io.h"

#include "foundation/error.h"
#include "foundation/text.h"
#include "pack/tool_refusal.h"

#include <algorithm>

namespace launcher {

namespace {

// The file as the operator knows it, without the \\?\ prefix the tool opens it with.
std::string shownSource(std::wstring_view source) {
    if (source.starts_with(L"\\\\?\\UNC\\")) return "\\\\" + shownText(source.substr(8));
    if (source.starts_with(L"\\\\?\\")) return shownText(source.substr(4));
    return source.empty() ? "a temporary file beside the package" : shownText(source);
}

} // namespace

void throwClientFileUnreadable(const std::wstring& source) {
    const DWORD error = ::GetLastError();
    throw ToolRefusal("无法读取客户端文件。", {.rule = "client-file-unreadable",
                                               .kind = RefusalSubject::file,
                                               .subject = shownSource(source),
                                               .expected = {},
                                               .actual = systemReason(static_cast<int>(error))});
}

void throwClientFileChanged(const std::wstring& source) {
    throw ToolRefusal("客户端文件在打包时被修改。",
                      {.rule = "client-file-changed",
                       .kind = RefusalSubject::file,
                       .subject = shownSource(source),
                       .expected = "the size and bytes it had when the folder was read",
                       .actual = "changed while it was packed"});
}

UniqueFile openClientFile(const std::wstring& source) {
    UniqueFile file{::CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)};
    if (!file) throwClientFileUnreadable(source);
    return file;
}

std::size_t readSome(HANDLE file, char* buffer, std::size_t count, const std::wstring& source) {
    std::size_t done = 0;
    while (done < count) {
        DWORD read = 0;
        if (!::ReadFile(file, buffer + done, static_cast<DWORD>(count - done), &read, nullptr))
            throwClientFileUnreadable(source);
        done += read;
        if (read == 0 || done < count) break;
    }
    return done;
}

void readClientFileChunks(HANDLE file, const PackEntry& entry, char* buffer, const CancelToken& token,
                          const ChunkUse& use) {
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) throwClientFileUnreadable(entry.source);
    std::uint64_t total = 0;
    for (bool last = false; !last;) {
        throwIfCanceled(token);
        const std::size_t read = readSome(file, buffer, packChunkBytes, entry.source);
        total += read;
        if (total > entry.size) throwClientFileChanged(entry.source);
        last = read < packChunkBytes;
        use(buffer, read, last);
    }
    if (total != entry.size) throwClientFileChanged(entry.source);
}

void writeAll(HANDLE file, const char* bytes, std::size_t count) {
    while (count > 0) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
        if (!::WriteFile(file, bytes, chunk, &written, nullptr) || written == 0)
            throw Error("无法写入安装包，请检查磁盘空间。");
        bytes += written;
        count -= written;
    }
}

} // namespace launcher
