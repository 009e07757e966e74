#include "install/store_install.h"

#include "filesystem/directory_links.h"
#include "filesystem/disk_space.h"
#include "foundation/diagnostic_log.h"
#include "foundation/error.h"
#include "foundation/launcher_data_folder.h"
#include "foundation/text.h"
#include "install/chunk_cache.h"
#include "install/installed_chunks.h"
#include "install/store_build.h"
#include "install/store_fetch.h"
#include "net/package_digest.h"
#include "update/chunk_index.h"

#include <windows.h>

#include <algorithm>

namespace launcher {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct StoreIndexAddress {
    std::wstring url;
    std::uint64_t size = 0;
    std::string sha256;
};

// The index as the manifest names it, fetched and read; nothing when the store cannot be used,
// which is logged with the reason.
std::optional<ChunkIndex> fetchIndex(const StoreIndexAddress& address, const json& package,
                                     CancelToken& token) {
    std::string bytes;
    try {
        bytes = fetchStoreIndex(address.url, address.size, token);
    } catch (const Canceled&) {
        throw;
    } catch (const Error& error) {
        // Never the query: a CDN may put a token there.
        logEvent("store.unusable", {{"reason", "index not fetched"},
                                    {"url", address.url.substr(0, address.url.find(L'?'))},
                                    {"error", error.what()}});
        return std::nullopt;
    }
    const std::string digest = sha256Hex(bytes.data(), bytes.size());
    if (bytes.size() != address.size || !packageDigestMatches(address.sha256, digest)) {
        logEvent("store.unusable", {{"reason", "index digest"},
                                    {"expected", address.sha256},
                                    {"computed", digest},
                                    {"bytes", bytes.size()}});
        return std::nullopt;
    }
    std::optional<ChunkIndex> index;
    try {
        index = parseChunkIndex(bytes);
    } catch (const Error&) {
        logEvent("store.unusable", {{"reason", "index unreadable"}});
        return std::nullopt;
    }
    if (!packageDigestMatches(package.at("sha256").get<std::string>(),
                              storeDigestText(index->packageDigest))) {
        logEvent("store.unusable", {{"reason", "index of another package"},
                                    {"package", storeDigestText(index->packageDigest)}});
        return std::nullopt;
    }
    return index;
}

// The chunks to fetch: those of files not already installed unchanged that neither the installed
// client nor the cache holds, each once. The cache keeps only what this install needs.
std::vector<std::uint32_t> missingChunks(const ChunkIndex& index, const InstalledChunks& installed,
                                         ChunkCache& cache) {
    DigestSet needed;
    std::vector<std::uint32_t> chunks;
    for (std::size_t i = 0; i < index.files.size(); ++i) {
        if (installed.sameFile[i]) continue;
        for (const std::uint32_t chunk : index.files[i].chunks) {
            const Sha256Digest& digest = index.chunks[chunk].digest;
            if (installed.chunks.contains(digest) || !needed.insert(digest).second) continue;
            chunks.push_back(chunk);
        }
    }
    cache.keepOnly(needed);
    std::erase_if(chunks,
                  [&](std::uint32_t chunk) { return cache.find(index.chunks[chunk].digest) != nullptr; });
    return chunks;
}

std::wstring volumeOf(const fs::path& path) {
    wchar_t volume[MAX_PATH + 1] = {};
    return ::GetVolumePathNameW(path.c_str(), volume, MAX_PATH) ? toLowerCase(volume) : std::wstring();
}

// Room for the new client beside the old one, and for the chunks still to fetch in the cache.
void requireRoom(const fs::path& parent, std::uint64_t clientBytes, const fs::path& cacheFolder,
                 std::uint64_t fetchBytes) {
    const std::wstring clientVolume = volumeOf(parent);
    if (!clientVolume.empty() && clientVolume == volumeOf(cacheFolder)) {
        requireFreeSpace(parent, clientBytes + fetchBytes);
        return;
    }
    requireFreeSpace(parent, clientBytes);
    requireFreeSpace(cacheFolder, fetchBytes);
}

} // namespace

fs::path defaultChunkCache(const fs::path& installDirectory) {
    const std::optional<fs::path> data = launcherDataFolder();
    if (!data) return {};
    // One folder per install directory: each is guarded by its own install lock.
    const std::string key = utf16ToUtf8(toLowerCase(installDirectory.native()));
    return *data / L"Chunks" /
           multiByteToUtf16(sha256Hex(key.data(), key.size()).substr(0, 16), codePageUtf8);
}

bool installFromStore(InstallTransaction& install, const LauncherConfig& config, CancelToken& token,
                      const ProgressCallback& progress, const InstallOptions& options) {
    const json& package = config.document.at("clientPackage");
    const json& member = package.at("index");
    const StoreIndexAddress address{multiByteToUtf16(member.at("url").get<std::string>(), codePageUtf8),
                                    member.at("size").get<std::uint64_t>(),
                                    member.at("sha256").get<std::string>()};
    const fs::path cacheFolder =
        options.chunkCache ? *options.chunkCache : defaultChunkCache(install.directory());
    try {
        if (cacheFolder.empty()) throw Error("no folder for the chunk cache");
        rejectDirectoryLinks(cacheFolder); // nothing is written through a link
    } catch (const Error& error) {
        logEvent("store.unusable", {{"reason", "chunk cache"}, {"error", error.what()}});
        return false;
    }
    const std::optional<ChunkIndex> index = fetchIndex(address, package, token);
    if (!index) return false;

    const fs::path content = install.makeContent();
    const std::uint64_t clientBytes = checkStoreTargets(*index, content, install.directory(),
                                                        package.at("maxExtractBytes").get<std::uint64_t>());
    const InstalledChunks installed = findInstalledChunks(install.directory(), *index, token, progress);
    ChunkCache cache(cacheFolder);
    const std::vector<StoreRange> ranges = planStoreRanges(*index, missingChunks(*index, installed, cache));
    const std::uint64_t fetchBytes = rangeBytes(ranges);
    logEvent("store.plan", {{"files", index->files.size()},
                            {"installedBytesRead", installed.bytesRead},
                            {"fetchBytes", fetchBytes},
                            {"requests", ranges.size()}});
    if (fetchBytes > package.at("maxDownloadBytes").get<std::uint64_t>())
        throw Error("下载内容超过允许大小。");
    requireRoom(install.parent(), clientBytes, cacheFolder, fetchBytes);

    fetchStoreRanges(*index, address.url, ranges, std::max(options.connections, 1u), cache, token, progress);
    logEvent("store.fetched", {{"bytes", fetchBytes}, {"requests", ranges.size()}});
    const json files =
        buildFromChunks(*index, clientBytes, content, install.directory(), installed, cache, token, progress);
    // The marker names the full package these files are, so the readiness check is the same.
    std::string digest = package.at("sha256").get<std::string>();
    std::ranges::transform(digest, digest.begin(), [](char c) { return c >= 'a' && c <= 'f' ? c - 32 : c; });
    install.complete(content, files, digest, progress);
    cache.clear();
    return true;
}

} // namespace launcher
