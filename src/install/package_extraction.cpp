#include "install/package_extraction.h"

#include "filesystem/disk_space.h"
#include "filesystem/path_rules.h"
#include "foundation/diagnostic_log.h"
#include "foundation/error.h"
#include "foundation/path_normal.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "zip/zip_format.h"
#include "zip/zip_reader.h"

#include <windows.h>

#include <exception>
#include <unordered_set>

namespace launcher {
namespace {

using nlohmann::json;

constexpr std::uint32_t unixFileTypeMask = 0xF0000000;
constexpr std::uint32_t unixSymbolicLink = 0xA0000000;
constexpr std::uint32_t dosReparsePoint = 0x400;
constexpr ULONGLONG progressIntervalMs = 100;

const std::wstring extractingStatus = L"正在解压客户端";
const std::wstring checkingStatus = L"正在检查客户端";

std::uint64_t declaredTotal(ZipReader& reader, std::uint64_t maxTotalBytes, const CancelToken& token) {
    std::uint64_t total = 0;
    for (std::uint64_t index = 0; index < reader.entryCount(); ++index) {
        throwIfCanceled(token);
        ZipEntryStat stat;
        if (!reader.stat(index, stat)) throw Error("解压内容超过大小限制或 ZIP 无效。");
        addPackageEntrySize(total, stat.m_uncomp_size, maxTotalBytes);
    }
    return total;
}

// Streams one entry into its new file, one write per chunk; without a file it only counts.
class EntryWriter {
public:
    EntryWriter(HANDLE file, const ZipEntryStat& stat, CancelToken& token, const ProgressCallback& progress,
                std::uint64_t& runningTotal, std::uint64_t grandTotal, ULONGLONG& lastReport)
        : file_(file), stat_(stat), token_(token), progress_(progress), runningTotal_(runningTotal),
          grandTotal_(grandTotal), lastReport_(lastReport) {}

    // The reader's callback: no exception may cross into it, so a failure is kept for later and
    // the reader is told to stop by accepting nothing.
    std::size_t write(std::uint64_t offset, const void* bytes, std::size_t count) noexcept {
        try {
            throwIfCanceled(token_);
            if (offset != written_ || count > stat_.m_uncomp_size - written_ || count > 0xFFFFFFFFu)
                throw Error("解压文件大小异常。");
            DWORD done = 0;
            if (file_ != nullptr &&
                (!::WriteFile(file_, bytes, static_cast<DWORD>(count), &done, nullptr) || done != count))
                throw Error("写入客户端失败，请检查磁盘空间。");
            written_ += count;
            runningTotal_ += count;
            const ULONGLONG now = ::GetTickCount64();
            if (progress_ && now - lastReport_ >= progressIntervalMs) {
                lastReport_ = now;
                progress_(extractingStatus, runningTotal_, grandTotal_);
            }
            return count;
        } catch (...) {
            failure_ = std::current_exception();
            return 0;
        }
    }

    std::uint64_t written() const { return written_; }
    void rethrowFailure() const {
        if (failure_) std::rethrow_exception(failure_);
    }

private:
    HANDLE file_;
    const ZipEntryStat& stat_;
    CancelToken& token_;
    const ProgressCallback& progress_;
    std::uint64_t& runningTotal_;
    std::uint64_t grandTotal_;
    ULONGLONG& lastReport_;
    std::uint64_t written_ = 0;
    std::exception_ptr failure_;
};

// Creates `directory` and whatever it lacks above it, with the platform's own calls: the library's
// take neither \\?\ paths nor paths beyond MAX_PATH everywhere.
// Where the extraction stands, for the log line that explains a refusal.
struct ExtractionTrace {
    std::uint64_t entries = 0;
    std::uint64_t bytes = 0;
    std::string entry; // the entry being extracted, as named in the archive
};

// Reads every entry under the rules; writes the files unless `directories` is given, which then
// collects the directory entries instead.
json extractAll(const std::filesystem::path& package, const std::filesystem::path& contentDirectory,
                std::uint64_t maxTotalBytes, CancelToken& token, const ProgressCallback& progress,
                const std::filesystem::path& installedDirectory, ExtractionTrace& trace,
                std::vector<std::wstring>* directories = nullptr) {
    const bool write = directories == nullptr;
    UniqueFile archive{::CreateFileW(package.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (!archive) throw Error("无法打开客户端安装包。");
    ZipReader reader(std::move(archive));
    if (!reader.open()) throw Error("无法读取 ZIP 安装包。");
    trace.entries = reader.entryCount();
    checkPackageEntryCount(reader.entryCount());
    const std::uint64_t grandTotal = declaredTotal(reader, maxTotalBytes, token);
    if (write) requireFreeSpace(contentDirectory, grandTotal);

    const std::filesystem::path absoluteContent = normalizedAbsolutePath(contentDirectory);
    const std::wstring& base = absoluteContent.native();
    const std::filesystem::path finalBase =
        installedDirectory.empty() ? absoluteContent : normalizedAbsolutePath(installedDirectory);
    PackageEntryPaths paths(base, finalBase.native());
    std::wstring lastParent; // most entries share the directory of the one before
    json files = json::array();
    std::uint64_t runningTotal = 0;
    ULONGLONG lastReport = 0;
    if (progress) progress(extractingStatus, 0, grandTotal);

    for (std::uint64_t index = 0; index < reader.entryCount(); ++index) {
        throwIfCanceled(token);
        ZipEntryStat stat;
        if (!reader.stat(index, stat)) throw Error("安装包目录损坏。");
        std::string rawName;
        const bool named = reader.name(index, rawName);
        trace.entry.assign(std::to_string(index)).append(": ").append(rawName, 0, 512);
        if (!named || rawName.size() > maxEntryNameBytes) throw Error("安装包文件名无效。");
        if (rawName.find('\0') != std::string::npos) refuseUnsupportedEntry();
        if ((stat.m_external_attr & unixFileTypeMask) == unixSymbolicLink ||
            (stat.m_external_attr & dosReparsePoint) || stat.m_is_encrypted || !stat.m_is_supported)
            refuseUnsupportedEntry();

        const std::wstring name =
            multiByteToUtf16(rawName, (stat.m_bit_flag & zipUtf8NameFlag) ? codePageUtf8 : codePageGbk);
        const std::wstring& target = paths.accept(name);
        if (stat.m_is_directory) {
            if (write)
                createDirectoryChain(target);
            else
                directories->push_back(target);
            continue;
        }
        UniqueFile output;
        if (write) {
            const std::wstring_view parent = std::wstring_view(target).substr(0, target.rfind(L'\\'));
            if (parent != lastParent) {
                createDirectoryChain(std::wstring(parent));
                lastParent = parent;
            }
            output.reset(::CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!output) throw Error("无法写入客户端文件，请检查磁盘空间和目录权限。");
        }
        EntryWriter writer(write ? output.get() : nullptr, stat, token, progress, runningTotal, grandTotal,
                           lastReport);
        const bool extracted =
            reader.extract(index, [&writer](std::uint64_t offset, const void* bytes, std::size_t count) {
                return writer.write(offset, bytes, count);
            });
        writer.rethrowFailure();
        if (!extracted || writer.written() != stat.m_uncomp_size) throw Error(damagedEntryMessage);
        files.push_back(
            {{"length", writer.written()}, {"path", utf16ToUtf8(target.substr(base.size() + 1))}});
    }

    if (progress) progress(checkingStatus, runningTotal, grandTotal);
    trace.bytes = runningTotal;
    trace.entry.clear();
    return files;
}

} // namespace

void checkPackageEntryCount(std::uint64_t entries) {
    if (entries > maxPackageEntries) throw Error("安装包文件数量过多。");
}

void addPackageEntrySize(std::uint64_t& total, std::uint64_t size, std::uint64_t maxTotalBytes) {
    if (total > maxTotalBytes || size > maxTotalBytes - total)
        throw Error("解压内容超过大小限制或 ZIP 无效。");
    total += size;
}

void refuseUnsupportedEntry() {
    throw Error(unsupportedEntryMessage);
}

PackageEntryPaths::PackageEntryPaths(std::wstring stagingBase, std::wstring finalBase)
    : stagingBase_(std::move(stagingBase)), finalBase_(std::move(finalBase)) {}

const std::wstring& PackageEntryPaths::accept(std::wstring_view name) {
    resolveStagedPackagePathInto(target_, stagingBase_, finalBase_, name);
    // Directory entries take part too: "dir/" and "dir", or Bin/A.dll and bin\a.dll, collide.
    if (!seen_.insert(toLowerCase(target_)).second) throw Error("安装包包含重复路径。");
    return target_;
}

void verifyClientPackage(const std::filesystem::path& package,
                         const std::filesystem::path& installedDirectory, std::uint64_t maxTotalBytes,
                         CancelToken& token, const ProgressCallback& progress, PackageVerification& result) {
    ExtractionTrace trace;
    result.directories.clear();
    try {
        result.files = extractAll(package, installedDirectory, maxTotalBytes, token, progress,
                                  installedDirectory, trace, &result.directories);
        result.entry.clear();
    } catch (...) {
        result.entry = trace.entry;
        throw;
    }
}

json extractClientPackage(const std::filesystem::path& package, const std::filesystem::path& contentDirectory,
                          std::uint64_t maxTotalBytes, CancelToken& token, const ProgressCallback& progress,
                          const std::filesystem::path& installedDirectory) {
    const ULONGLONG start = ::GetTickCount64();
    ExtractionTrace trace;
    try {
        json files =
            extractAll(package, contentDirectory, maxTotalBytes, token, progress, installedDirectory, trace);
        logEvent("extract.done", {{"entries", trace.entries},
                                  {"files", files.size()},
                                  {"bytes", trace.bytes},
                                  {"ms", ::GetTickCount64() - start}});
        return files;
    } catch (const Canceled&) {
        logEvent("extract.canceled", {{"entry", trace.entry}});
        throw;
    } catch (const Error& error) {
        // The entry and the rule it broke: what the publisher must change in the package.
        logEvent("extract.refused",
                 {{"entry", trace.entry}, {"rule", error.what()}, {"entries", trace.entries}});
        throw;
    }
}

void createDirectoryChain(const std::wstring& directory) {
    if (::CreateDirectoryW(directory.c_str(), nullptr)) return;
    DWORD error = ::GetLastError();
    if (error == ERROR_PATH_NOT_FOUND) {
        const std::size_t separator = directory.rfind(L'\\');
        if (separator != std::wstring::npos && separator >= pathRootLength(directory)) {
            createDirectoryChain(directory.substr(0, separator));
            if (::CreateDirectoryW(directory.c_str(), nullptr)) return;
            error = ::GetLastError();
        }
    }
    const DWORD attributes = ::GetFileAttributesW(directory.c_str());
    if (error == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return;
    throw std::filesystem::filesystem_error("cannot create directory", std::filesystem::path(directory),
                                            std::error_code(static_cast<int>(error), std::system_category()));
}

} // namespace launcher
