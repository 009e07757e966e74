#include "install/store_fetch.h"

#include "foundation/diagnostic_log.h"
#include "foundation/error.h"
#include "foundation/text.h"
#include "install/shared_progress.h"
#include "net/connection_pool.h"
#include "net/http_transfer.h"
#include "net/package_digest.h"
#include "net/store_connection.h"
#include "zip/inflate_stream.h"

#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <memory>
#include <optional>

namespace launcher {
namespace {

// Fetching a gap costs less than another request up to about this much; and a range is kept small
// enough that four connections share the work and a killed install loses little of it.
constexpr std::uint64_t maxGapBytes = 65536;
constexpr std::uint64_t maxRangeBytes = 8u << 20;

// Follows one range's body through its chunks: skips the gaps, inflates what is deflated, and
// keeps each chunk whose digest matches.
class RangeReader {
public:
    RangeReader(const ChunkIndex& index, const StoreRange& range, ChunkCache& cache)
        : index_(index), range_(range), writer_(cache) {}

    void take(const std::uint8_t* bytes, std::size_t size) {
        while (size > 0) {
            if (next_ == range_.chunks.size()) return; // the tail of the last gap, if any
            const IndexedChunk& chunk = index_.chunks[range_.chunks[next_]];
            const std::uint64_t chunkStart = chunk.offset - range_.offset;
            if (position_ < chunkStart) {
                const std::size_t skip =
                    static_cast<std::size_t>(std::min<std::uint64_t>(chunkStart - position_, size));
                advance(bytes, size, skip);
                continue;
            }
            if (!hash_) begin(chunk);
            const std::size_t piece =
                static_cast<std::size_t>(std::min<std::uint64_t>(chunk.storedLength - consumed_, size));
            if (inflater_)
                inflater_->feed(bytes, piece,
                                [&](const std::uint8_t* out, std::size_t count) { keep(out, count); });
            else
                keep(bytes, piece);
            consumed_ += piece;
            advance(bytes, size, piece);
            if (consumed_ == chunk.storedLength) end(chunk);
        }
    }

    void finish() {
        if (next_ != range_.chunks.size()) throw Error("下载内容不完整，请重试。");
        writer_.commit();
    }

private:
    void advance(const std::uint8_t*& bytes, std::size_t& size, std::size_t count) {
        bytes += count;
        size -= count;
        position_ += count;
    }

    void begin(const IndexedChunk& chunk) {
        hash_.emplace();
        consumed_ = 0;
        inflated_ = 0;
        if (chunk.deflated())
            inflater_ = std::make_unique<InflateStream>(DeflateFraming::raw, chunk.size,
                                                        packageDigestMismatchMessage);
    }

    void keep(const std::uint8_t* bytes, std::size_t count) {
        hash_->update(bytes, count);
        writer_.write(bytes, count);
        inflated_ += count;
    }

    void end(const IndexedChunk& chunk) {
        bool good = inflated_ == chunk.size;
        if (good && inflater_) {
            try {
                inflater_->finish();
            } catch (const Error&) {
                good = false;
            }
        }
        good = good && hash_->finish() == chunk.digest;
        hash_.reset();
        inflater_.reset();
        if (!good) {
            // What was verified before it is kept, so the player's retry does not fetch it again.
            writer_.discardChunk();
            writer_.commit();
            logEvent("store.chunk_failed", {{"chunk", storeDigestText(chunk.digest)},
                                            {"pack", storeDigestText(index_.packs[chunk.pack].digest)},
                                            {"offset", chunk.offset}});
            throw Error(packageDigestMismatchMessage);
        }
        writer_.keepChunk(chunk.digest, chunk.size);
        ++next_;
    }

    const ChunkIndex& index_;
    const StoreRange& range_;
    ChunkBundleWriter writer_;
    std::uint64_t position_ = 0; // within the range
    std::size_t next_ = 0;       // the chunk being read, into range_.chunks
    std::uint64_t consumed_ = 0; // of its stored bytes
    std::uint64_t inflated_ = 0;
    std::optional<Sha256Hash> hash_;
    std::unique_ptr<InflateStream> inflater_;
};

} // namespace

std::vector<StoreRange> planStoreRanges(const ChunkIndex& index, std::vector<std::uint32_t> chunks) {
    std::sort(chunks.begin(), chunks.end(), [&](std::uint32_t left, std::uint32_t right) {
        const IndexedChunk& a = index.chunks[left];
        const IndexedChunk& b = index.chunks[right];
        return a.pack != b.pack ? a.pack < b.pack : a.offset < b.offset;
    });
    std::vector<StoreRange> ranges;
    for (const std::uint32_t number : chunks) {
        const IndexedChunk& chunk = index.chunks[number];
        const std::uint64_t end = chunk.offset + chunk.storedLength;
        if (!ranges.empty()) {
            StoreRange& last = ranges.back();
            const std::uint64_t lastEnd = last.offset + last.length;
            if (last.pack == chunk.pack && chunk.offset >= lastEnd && chunk.offset - lastEnd <= maxGapBytes &&
                end - last.offset <= maxRangeBytes) {
                last.length = end - last.offset;
                last.chunks.push_back(number);
                continue;
            }
        }
        ranges.push_back({chunk.pack, chunk.offset, chunk.storedLength, {number}});
    }
    return ranges;
}

std::uint64_t rangeBytes(const std::vector<StoreRange>& ranges) {
    std::uint64_t total = 0;
    for (const StoreRange& range : ranges)
        total += range.length;
    return total;
}

std::string fetchStoreIndex(const std::wstring& url, std::uint64_t size, CancelToken& token) {
    HttpRequest request;
    request.url = url;
    request.downloadMode = true;
    request.maxBytes = size;
    request.updateChannel = true;
    std::string bytes;
    httpTransfer(request, token,
                 [&](const std::uint8_t* data, std::uint32_t count) {
                     bytes.append(reinterpret_cast<const char*>(data), count);
                 },
                 {});
    return bytes;
}

std::wstring resolveStoreAddress(const std::wstring& base, const std::wstring& reference) {
    std::wstring resolved(8192, L'\0');
    DWORD size = static_cast<DWORD>(resolved.size());
    if (FAILED(::UrlCombineW(base.c_str(), reference.c_str(), resolved.data(), &size, 0)))
        throw Error("下载重定向地址无效。");
    resolved.resize(size);
    return resolved;
}

void fetchStoreRanges(const ChunkIndex& index, const std::wstring& indexUrl,
                      const std::vector<StoreRange>& ranges, unsigned connections, ChunkCache& cache,
                      CancelToken& token, const ProgressCallback& progress) {
    std::vector<std::wstring> packUrls;
    packUrls.reserve(index.packs.size());
    for (const IndexedPack& pack : index.packs)
        packUrls.push_back(
            resolveStoreAddress(indexUrl, multiByteToUtf16(packAddressFromIndex(pack.digest), codePageUtf8)));
    SharedProgress shared(progress, L"正在下载客户端", rangeBytes(ranges));
    shared.report();
    runOnConnections(ranges.size(), connections, token,
                     [&](std::size_t job, StoreConnection& connection, CancelToken& jobToken) {
                         const StoreRange& range = ranges[job];
                         RangeReader reader(index, range, cache);
                         connection.fetch(packUrls[range.pack], ByteRange{range.offset, range.length},
                                          jobToken, [&](const std::uint8_t* bytes, std::uint32_t count) {
                                              reader.take(bytes, count);
                                              shared.add(count);
                                          });
                         reader.finish();
                     });
    shared.report();
}

} // namespace launcher
