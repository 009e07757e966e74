#include "pack/store_folder.h"

#include "foundation/error.h"
#include "foundation/file_io.h"
#include "foundation/text.h"
#include "pack/tool_refusal.h"

#include <algorithm>
#include <system_error>

namespace launcher {
namespace {

namespace fs = std::filesystem;

// The digest a store file's name gives, or nothing for a name the store does not make.
std::optional<Sha256Digest> digestOfName(const std::wstring& name, const std::wstring& suffix) {
    if (name.size() != 64 + suffix.size() || !name.ends_with(suffix)) return std::nullopt;
    const std::wstring stem = name.substr(0, 64);
    // Lower case only: on a host with case-sensitive names another form is another file.
    if (stem.find_first_not_of(L"0123456789abcdef") != std::wstring::npos) return std::nullopt;
    return parseStoreDigest(utf16ToUtf8(stem));
}

} // namespace

fs::path storeIndexFile(const fs::path& store, const Sha256Digest& digest) {
    return store / L"indexes" / (multiByteToUtf16(storeDigestText(digest), codePageUtf8) + L".index");
}

fs::path storePackFile(const fs::path& store, const Sha256Digest& digest) {
    return store / L"packs" / (multiByteToUtf16(storeDigestText(digest), codePageUtf8) + L".pack");
}

std::vector<Sha256Digest> storeDigestsIn(const fs::path& folder, const std::wstring& suffix) {
    std::vector<Sha256Digest> digests;
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(folder, error))) return digests;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        // A link or a folder under a store name is not a file the store wrote.
        if (!fs::is_regular_file(entry.symlink_status())) continue;
        if (const auto digest = digestOfName(entry.path().filename().native(), suffix))
            digests.push_back(*digest);
    }
    std::sort(digests.begin(), digests.end());
    return digests;
}

StoredIndex readStoredIndex(const fs::path& file) {
    StoredIndex stored;
    stored.file = file;
    std::string bytes;
    try {
        bytes = readFileLimited(file, maxChunkIndexBytes);
    } catch (...) {
        rethrowNamingFile(file, "store-index-unreadable", "无法读取内容仓库的索引文件。",
                          "an index file of at most " + byteCount(maxChunkIndexBytes));
    }
    stored.size = bytes.size();
    stored.digest = sha256Digest(bytes.data(), bytes.size());
    const auto named = digestOfName(file.filename().native(), L".index");
    if (named && *named != stored.digest)
        throw ToolRefusal("内容仓库的索引文件与其名称中的 SHA-256 不符。",
                          aboutFile(file, "store-index-name", storeDigestText(*named) + " (its name)",
                                    storeDigestText(stored.digest)));
    try {
        stored.index = parseChunkIndex(bytes);
    } catch (const Error& error) {
        throw ToolRefusal(
            "内容仓库的索引文件无效。",
            aboutFile(file, "store-index-invalid", "a chunk index as publish writes it", error.what()));
    }
    return stored;
}

void forEachStoredIndex(const fs::path& store, const std::function<void(const StoredIndex&)>& use) {
    for (const Sha256Digest& digest : storeDigestsIn(store / L"indexes", L".index"))
        use(readStoredIndex(storeIndexFile(store, digest)));
}

void requireStorePack(const fs::path& file, std::uint64_t size) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(file, error);
    if (!fs::is_regular_file(status))
        throw ToolRefusal(
            "内容仓库缺少分块包文件。",
            aboutFile(file, "store-pack-missing", "a pack of " + byteCount(size), "no such file"));
    const std::uint64_t actual = fs::file_size(file);
    if (actual != size)
        throw ToolRefusal("内容仓库的分块包文件大小不符。",
                          aboutFile(file, "store-pack-size", byteCount(size), byteCount(actual)));
}

} // namespace launcher
