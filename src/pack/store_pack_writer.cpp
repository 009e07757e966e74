#include "pack/store_pack_writer.h"

#include "foundation/text.h"
#include "foundation/unique_name.h"
#include "pack/tool_refusal.h"

#include <algorithm>
#include <system_error>

namespace launcher {

StorePackWriter::StorePackWriter(const std::filesystem::path& packsFolder) : folder_(packsFolder) {
    std::error_code error;
    std::filesystem::create_directories(folder_, error);
    // Not the store's name for a pack: an interrupted publish leaves nothing prune or check would
    // take for one.
    temporary_ = folder_ / (L"new-" + multiByteToUtf16(newUniqueHexName(), codePageUtf8) + L".partial");
    file_.reset(::CreateFileW(temporary_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) refuseWrite(folder_);
}

StorePackWriter::~StorePackWriter() {
    if (finished_) return;
    file_.reset();
    ::DeleteFileW(temporary_.c_str());
}

void StorePackWriter::refuseWrite(const std::filesystem::path& file) const {
    const DWORD error = ::GetLastError();
    throw ToolRefusal("无法写入内容仓库，请检查磁盘空间和目录权限。",
                      {.rule = "store-write",
                       .kind = RefusalSubject::file,
                       .subject = shownPath(file),
                       .expected = {},
                       .actual = systemReason(static_cast<int>(error))});
}

std::uint64_t StorePackWriter::append(const void* bytes, std::size_t count) {
    const std::uint64_t offset = size_;
    hash_.update(bytes, count);
    const char* next = static_cast<const char*>(bytes);
    while (count > 0) {
        DWORD written = 0;
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
        if (!::WriteFile(file_.get(), next, piece, &written, nullptr) || written == 0)
            refuseWrite(temporary_);
        next += written;
        count -= written;
        size_ += written;
    }
    return offset;
}

IndexedPack StorePackWriter::finish() {
    const IndexedPack pack{.digest = hash_.finish(), .size = size_};
    if (!::FlushFileBuffers(file_.get())) refuseWrite(temporary_);
    file_.reset();
    const std::filesystem::path target =
        folder_ / (multiByteToUtf16(storeDigestText(pack.digest), codePageUtf8) + L".pack");
    // A pack of that name left by an earlier publish should hold these very bytes; replaced anyway,
    // so a damaged one is mended rather than trusted by its name.
    if (!::MoveFileExW(temporary_.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        refuseWrite(target);
    finished_ = true;
    return pack;
}

} // namespace launcher
