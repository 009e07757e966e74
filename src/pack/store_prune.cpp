#include "pack/store_prune.h"

#include "filesystem/directory_links.h"
#include "foundation/error.h"
#include "foundation/file_io.h"
#include "foundation/text.h"
#include "pack/store_folder.h"
#include "pack/tool_refusal.h"
#include "update/signed_manifest.h"
#include "update/update_manifest.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <set>

namespace launcher {
namespace {

namespace fs = std::filesystem;

constexpr const char* manifestForm = "a signed manifest whose clientPackage names an index (publish --store)";

[[noreturn]] void refuseKeep(const std::wstring& keep, const std::string& rule, const std::string& sentence,
                             const std::string& expected, const std::string& actual) {
    throw ToolRefusal(sentence, {.rule = rule,
                                 .kind = RefusalSubject::option,
                                 .subject = "--keep " + shownText(keep),
                                 .expected = expected,
                                 .actual = actual});
}

// The index a manifest file names.
Sha256Digest indexOfManifest(const std::wstring& keep) {
    const std::string sentence = "--keep 指定的清单没有指明内容仓库的索引。";
    UpdateManifest manifest;
    try {
        const std::string body = readFileLimited(keep, maxManifestEnvelopeBytes);
        manifest = parseUpdateManifest(isBareManifest(body) ? body : splitManifestEnvelope(body).bytes);
    } catch (const std::exception& error) {
        refuseKeep(keep, "prune-keep-manifest", sentence, manifestForm, error.what());
    }
    const nlohmann::json index = manifest.clientPackage.value("index", nlohmann::json());
    const nlohmann::json digest =
        index.is_object() ? index.value("sha256", nlohmann::json()) : nlohmann::json();
    const auto parsed = digest.is_string() ? parseStoreDigest(digest.get<std::string>()) : std::nullopt;
    if (!parsed)
        refuseKeep(keep, "prune-keep-manifest", sentence, manifestForm, "no clientPackage.index.sha256");
    return *parsed;
}

// The kept indexes, each present in the store.
std::set<Sha256Digest> keptIndexes(const PruneRequest& request, const std::vector<Sha256Digest>& present) {
    std::set<Sha256Digest> kept;
    for (const std::wstring& keep : request.keep) {
        const bool isDigest =
            keep.size() == 64 && keep.find_first_not_of(L"0123456789abcdefABCDEF") == std::wstring::npos;
        const Sha256Digest digest = isDigest ? *parseStoreDigest(utf16ToUtf8(keep)) : indexOfManifest(keep);
        if (!std::binary_search(present.begin(), present.end(), digest))
            refuseKeep(keep, "prune-keep-missing", "--keep 指定的索引不在内容仓库中。",
                       "an index in " + shownPath(request.store / L"indexes"),
                       "no " + indexStorePath(digest) + " there");
        kept.insert(digest);
    }
    return kept;
}

std::uint64_t sizeOf(const fs::path& file) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(file, error);
    return error ? 0 : size;
}

// A store folder that is a link would have prune delete files of wherever it leads.
void refuseLinkedFolder(const fs::path& folder) {
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !isLinkAt(folder.native(), attributes)) return;
    throw ToolRefusal("内容仓库的文件夹是目录链接，prune 不会删除它所指之处的文件。",
                      aboutFile(folder, "store-link", "a folder of the store", "a directory link"));
}

void removeStoreFile(const fs::path& file) {
    if (::DeleteFileW(file.c_str())) return;
    throw ToolRefusal(
        "无法删除内容仓库中的文件。",
        aboutFile(file, "store-remove", "removed", systemReason(static_cast<int>(::GetLastError()))));
}

} // namespace

PruneSummary pruneContentStore(const PruneRequest& request) {
    const fs::path& store = request.store;
    refuseLinkedFolder(store / L"indexes");
    refuseLinkedFolder(store / L"packs");
    const std::vector<Sha256Digest> indexes = storeDigestsIn(store / L"indexes", L".index");
    const std::set<Sha256Digest> kept = keptIndexes(request, indexes);

    // Each kept pack's size and the stored chunks kept indexes use in it, by offset.
    std::map<Sha256Digest, std::uint64_t> packSizes;
    std::map<Sha256Digest, std::map<std::uint64_t, std::uint32_t>> used;
    PruneSummary summary;
    for (const Sha256Digest& digest : kept) {
        const StoredIndex stored = readStoredIndex(storeIndexFile(store, digest));
        summary.kept.push_back(indexStorePath(digest));
        for (const IndexedPack& pack : stored.index.packs)
            packSizes[pack.digest] = pack.size;
        for (const IndexedChunk& chunk : stored.index.chunks)
            used[stored.index.packs[chunk.pack].digest][chunk.offset] = chunk.storedLength;
    }
    for (const auto& [pack, size] : packSizes) {
        std::uint64_t inUse = 0;
        for (const auto& [offset, length] : used[pack])
            inUse += length;
        summary.keptPackBytes += size;
        summary.unusedBytes += size - std::min(size, inUse);
    }

    std::vector<fs::path> doomed;
    for (const Sha256Digest& digest : indexes)
        if (!kept.contains(digest)) {
            doomed.push_back(storeIndexFile(store, digest));
            summary.removed.push_back(indexStorePath(digest));
        }
    for (const Sha256Digest& digest : storeDigestsIn(store / L"packs", L".pack"))
        if (!packSizes.contains(digest)) {
            doomed.push_back(storePackFile(store, digest));
            summary.removed.push_back(packStorePath(digest));
        }
    for (const fs::path& file : doomed) {
        summary.freedBytes += sizeOf(file);
        if (!request.dryRun) removeStoreFile(file);
    }
    return summary;
}

} // namespace launcher
