#include "zip/zip_reader.h"

#include "foundation/unique_handle.h"

#include <windows.h>

#include <algorithm>

namespace launcher {
namespace {

class FileZipSource final : public ZipSource {
public:
    explicit FileZipSource(UniqueFile file) : file_(std::move(file)) {}

    bool size(std::uint64_t& bytes) override {
        LARGE_INTEGER size{};
        if (!file_ || !::GetFileSizeEx(file_.get(), &size) || size.QuadPart < 0) return false;
        bytes = static_cast<std::uint64_t>(size.QuadPart);
        return true;
    }

    bool readAt(std::uint64_t offset, void* buffer, std::size_t count) override {
        auto* next = static_cast<char*>(buffer);
        while (count > 0) {
            OVERLAPPED position{};
            position.Offset = static_cast<DWORD>(offset);
            position.OffsetHigh = static_cast<DWORD>(offset >> 32);
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
            DWORD read = 0;
            if (!::ReadFile(file_.get(), next, chunk, &read, &position) || read == 0) return false;
            next += read;
            offset += read;
            count -= read;
        }
        return true;
    }

private:
    UniqueFile file_;
};

} // namespace

ZipReader::ZipReader(UniqueFile file) : ZipReader(std::make_unique<FileZipSource>(std::move(file))) {}

} // namespace launcher
