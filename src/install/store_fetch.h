#pragma once

// Fetching the chunks an install is missing: neighbouring chunks of a pack become one byte range,
// the ranges are fetched on several connections at once, and every chunk is verified by its digest
// before it goes into the chunk cache.
#include "foundation/cancel_token.h"
#include "foundation/progress.h"
#include "install/chunk_cache.h"
#include "update/chunk_index.h"

#include <cstdint>
#include <string>
#include <vector>

namespace launcher {

struct StoreRange {
    std::uint32_t pack = 0;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    std::vector<std::uint32_t> chunks; // into the index, by offset: all within the range
};

// The ranges that fetch `chunks` (indexes into `index.chunks`, each once): chunks of one pack
// whose stored bytes are at most a small gap apart share a range, up to a few mebibytes. Pure.
std::vector<StoreRange> planStoreRanges(const ChunkIndex& index, std::vector<std::uint32_t> chunks);

// The bytes the ranges fetch, gaps included.
std::uint64_t rangeBytes(const std::vector<StoreRange>& ranges);

// Fetches `ranges` from the packs beside the index at `indexUrl` on `connections` connections,
// reporting "正在下载客户端" (bytes received of rangeBytes), and keeps every chunk whose digest
// matches in `cache`. A chunk whose bytes do not inflate to its size or do not have its digest ends
// the fetch with Error("安装包 SHA256 校验失败，请重试或联系管理员。"); the chunks verified before it
// stay in the cache. Throws the transfer's Error, or Canceled.
void fetchStoreRanges(const ChunkIndex& index, const std::wstring& indexUrl,
                      const std::vector<StoreRange>& ranges, unsigned connections, ChunkCache& cache,
                      CancelToken& token, const ProgressCallback& progress);

// The index at `url`, fetched whole as the launcher fetches it: at most `size` bytes, every address
// under the store's rule (its digest vouches for it, as for the update channel's files). Throws the
// transfer's Error, or Canceled.
std::string fetchStoreIndex(const std::wstring& url, std::uint64_t size, CancelToken& token);

// `reference` resolved against `base` as a browser would ("../packs/x.pack" beside an index).
// Throws Error("下载重定向地址无效。") when it cannot be.
std::wstring resolveStoreAddress(const std::wstring& base, const std::wstring& reference);

} // namespace launcher
