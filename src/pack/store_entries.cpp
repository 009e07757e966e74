#include "pack/store_entries.h"

#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "pack/package_check.h"
#include "pack/tool_refusal.h"
#include "zip/zip_format.h"
#include "zip/zip_reader.h"

#include <windows.h>

#include <exception>

namespace launcher {
namespace {

constexpr std::uint64_t progressStepBytes = 4 << 20;

[[noreturn]] void refuseDamaged(const std::string& entry) {
    throw ToolRefusal("安装包条目已损坏。",
                      {.rule = "entry-damaged",
                       .kind = RefusalSubject::entry,
                       .subject = entry,
                       .expected = "bytes that inflate to the size and CRC-32 the archive declares",
                       .actual = "bytes that do not"});
}

// Hands one file's bytes on from inside the reader's callback, which no exception may cross: the
// first failure is kept, the reader is told to stop, and it is thrown again once the reader returns.
class FileFeed {
public:
    FileFeed(StoreEntryVisitor& visitor, CancelToken& token) : visitor_(visitor), token_(token) {}

    std::size_t write(const void* bytes, std::size_t count) noexcept {
        try {
            throwIfCanceled(token_);
            visitor_.fileBytes(static_cast<const std::uint8_t*>(bytes), count);
            read_ += count;
            return count;
        } catch (...) {
            failure_ = std::current_exception();
            return 0;
        }
    }
    std::uint64_t read() const { return read_; }
    void rethrowFailure() const {
        if (failure_) std::rethrow_exception(failure_);
    }

private:
    StoreEntryVisitor& visitor_;
    CancelToken& token_;
    std::uint64_t read_ = 0;
    std::exception_ptr failure_;
};

} // namespace

std::string storeEntryPath(std::wstring_view name) {
    std::wstring path;
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t end = std::min(name.find_first_of(L"/\\", start), name.size());
        if (end > start) {
            if (!path.empty()) path += L'/';
            path.append(name.substr(start, end - start));
        }
        start = end + 1;
    }
    return utf16ToUtf8(path);
}

void readStoreEntries(const std::filesystem::path& package, const std::string& shown, CancelToken& token,
                      const std::wstring& status, const ProgressCallback& progress,
                      StoreEntryVisitor& visitor) {
    ZipReader reader = openPackageArchive(package, shown);
    std::uint64_t total = 0;
    for (std::uint64_t index = 0; index < reader.entryCount(); ++index) {
        ZipEntryStat stat;
        if (!reader.stat(index, stat)) refuseDamaged(std::to_string(index));
        total += stat.m_uncomp_size;
    }
    std::uint64_t done = 0, reported = 0;
    for (std::uint64_t index = 0; index < reader.entryCount(); ++index) {
        throwIfCanceled(token);
        ZipEntryStat stat;
        std::string raw;
        if (!reader.stat(index, stat) || !reader.name(index, raw)) refuseDamaged(std::to_string(index));
        const bool utf8 = (stat.m_bit_flag & zipUtf8NameFlag) != 0;
        const std::wstring name = multiByteToUtf16(raw, utf8 ? codePageUtf8 : codePageGbk);
        const StoreEntry entry{.path = storeEntryPath(name),
                               .size = stat.m_uncomp_size,
                               .shown = std::to_string(index) + ": " + shownText(name)};
        if (stat.m_is_directory) {
            visitor.directory(entry);
            continue;
        }
        visitor.beginFile(entry);
        FileFeed feed(visitor, token);
        const bool extracted =
            reader.extract(index, [&feed](std::uint64_t, const void* bytes, std::size_t count) {
                return feed.write(bytes, count);
            });
        feed.rethrowFailure();
        if (!extracted || feed.read() != stat.m_uncomp_size) refuseDamaged(entry.shown);
        visitor.endFile();
        done += stat.m_uncomp_size;
        if (progress && done - reported >= progressStepBytes) {
            reported = done;
            progress(status, done, total);
        }
    }
    if (progress) progress(status, done, total);
}

} // namespace launcher
