#include "pack/store_verify.h"

#include "foundation/error.h"
#include "foundation/text.h"
#include "install/store_fetch.h"
#include "net/package_digest.h"
#include "net/sha256_hash.h"
#include "net/store_connection.h"
#include "update/chunk_index.h"

#include <optional>
#include <string>

namespace launcher {
namespace {

using nlohmann::json;
using Outcome = VerifyFinding::Outcome;

// A few failing packs say what is wrong; the rest are counted.
constexpr std::size_t packsNamed = 5;

} // namespace

void verifyStore(const json& clientPackage, CancelToken& token,
                 const std::function<void(VerifyFinding)>& add) {
    const auto member = clientPackage.find("index");
    if (member == clientPackage.end()) return;
    const std::string url = member->at("url").get<std::string>();
    const std::uint64_t size = member->at("size").get<std::uint64_t>();
    const std::string digest = member->at("sha256").get<std::string>();

    const std::wstring indexUrl = multiByteToUtf16(url, codePageUtf8);
    std::string bytes;
    try {
        bytes = fetchStoreIndex(indexUrl, size, token);
    } catch (const Canceled&) {
        throw;
    } catch (const Error& error) {
        add({Outcome::failure, "store.index.address", url,
             "HTTP 200, at most " + std::to_string(size) + " bytes", error.what()});
        return;
    }
    add({Outcome::ok, "store.index.address", url, "HTTP 200",
         "HTTP 200, " + std::to_string(bytes.size()) + " bytes"});
    const std::string computed = sha256Hex(bytes.data(), bytes.size());
    const bool same = bytes.size() == size && packageDigestMatches(digest, computed);
    add({same ? Outcome::ok : Outcome::failure, "store.index.sha256", url,
         std::to_string(size) + " bytes, " + digest,
         std::to_string(bytes.size()) + " bytes, " +
             utf16ToUtf8(toLowerCase(multiByteToUtf16(computed, codePageUtf8)))});
    if (!same) return;

    ChunkIndex index;
    try {
        index = parseChunkIndex(bytes);
    } catch (const Error& error) {
        add({Outcome::failure, "store.index.document", url, "an index of a content store", error.what()});
        return;
    }
    const std::string package = clientPackage.value("sha256", std::string());
    const bool ofPackage = packageDigestMatches(package, storeDigestText(index.packageDigest));
    add({ofPackage ? Outcome::ok : Outcome::failure, "store.index.document", url,
         "the index of package " + package,
         "the index of package " + storeDigestText(index.packageDigest) + ", " +
             std::to_string(index.files.size()) + " files, " + std::to_string(index.packs.size()) +
             " packs"});
    if (!ofPackage) return;

    // The last byte of each pack: it is there, at least as long as the index says, and the server
    // answers ranges.
    StoreConnection connection;
    std::size_t failed = 0;
    for (const IndexedPack& pack : index.packs) {
        const std::wstring packUrl =
            resolveStoreAddress(indexUrl, multiByteToUtf16(packAddressFromIndex(pack.digest), codePageUtf8));
        try {
            connection.fetch(packUrl, ByteRange{pack.size - 1, 1}, token,
                             [](const std::uint8_t*, std::uint32_t) {});
        } catch (const Canceled&) {
            throw;
        } catch (const Error& error) {
            if (++failed <= packsNamed)
                add({Outcome::failure, "store.packs", utf16ToUtf8(packUrl),
                     "HTTP 206 for byte " + std::to_string(pack.size - 1), error.what()});
        }
    }
    add({failed == 0 ? Outcome::ok : Outcome::failure, "store.packs", url,
         "every pack answers a byte range (206)",
         std::to_string(index.packs.size() - failed) + " of " + std::to_string(index.packs.size()) + " do"});
}

} // namespace launcher
