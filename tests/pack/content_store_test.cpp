// The content store beside the update manifest: what publish writes into it version after version,
// what check refuses in it, and what prune takes out of it.
#include "net/file_digest.h"
#include "pack/store_check.h"
#include "pack/store_prune.h"
#include "pack/update_publish.h"
#include "support/test_support.h"
#include "support/zip_writer.h"
#include "tool_refusal_text.h"
#include "update/chunk_index.h"
#include "update/signed_manifest.h"
#include "update/update_manifest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <set>

namespace launcher {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

const std::string executable = "TalvoPC/talvo-曜石纪元.exe";
const std::string dataFolder = "TalvoPC/talvo-曜石纪元_Data/";
const std::string storeUrl = "https://cdn.example.com/talvo/store/";
constexpr std::size_t largeBytes = 24 << 20;

// Settings text that deflates well: a chunk the store keeps deflated.
std::string settings(int version) {
    std::string text;
    while (text.size() < 100000)
        text += "m_Version " + std::to_string(version) + " m_Quality Fantastic\n";
    return text;
}

// Two versions of a client published one after the other into one store, as an operator does.
// Version 2 changes the game executable, the settings and 8 bytes in the middle of the large
// file, and drops old.resource; globalgamemanagers.bak holds version 1's settings in both.
struct PublishedStore {
    TempDir dir;
    fs::path store = dir / L"store";
    std::uint64_t packBytes = storePackRollBytes;
    UpdateSigningKey key = createUpdateKeyFile(dir / L"update-key.json");

    fs::path package(int version) const { return dir / (L"TalvoPC-" + std::to_wstring(version) + L".zip"); }
    fs::path manifest() const { return dir / L"manifest.signed"; }

    PublishSummary publish(int version) {
        std::string large = testing::patternBytes(largeBytes);
        if (version == 2) large.replace(largeBytes / 2, 8, "CHANGED!");
        std::vector<testing::ZipEntrySpec> entries = {
            {.name = executable, .data = "MZ game " + std::to_string(version)},
            {.name = "TalvoPC/UnityPlayer.dll", .data = "MZ player"},
            {.name = dataFolder, .data = ""},
            {.name = dataFolder + "globalgamemanagers", .data = settings(version)},
            {.name = dataFolder + "globalgamemanagers.bak", .data = settings(1)},
            {.name = dataFolder + "data.unity3d", .data = large, .deflate = false},
            {.name = dataFolder + "empty.txt", .data = ""},
        };
        if (version == 1) {
            std::string old = testing::patternBytes(6 << 20);
            for (char& byte : old)
                byte = static_cast<char>(~byte);
            entries.push_back({.name = dataFolder + "old.resource", .data = old, .deflate = false});
        }
        testing::writeZip(package(version), entries);
        PublishRequest request{.package = package(version),
                               .keyFile = dir / L"update-key.json",
                               .manifest = manifest(),
                               .executablePath = executable,
                               .version = "2026.12." + std::to_string(version),
                               .downloadUrl =
                                   "https://download.example.com/TalvoPC-" + std::to_string(version) + ".zip",
                               .store = StoreTarget{store, storeUrl, packBytes}};
        CancelToken token;
        return publishUpdate(request, dir.path(), token, {});
    }

    // The index the manifest written last names.
    nlohmann::json manifestIndex() const {
        return parseUpdateManifest(splitManifestEnvelope(testing::readBytes(manifest())).bytes)
            .clientPackage.at("index");
    }
    ChunkIndex index(const std::string& digest) const {
        return parseChunkIndex(testing::readBytes(store / L"indexes" / testing::wide(digest + ".index")));
    }

    // "<no error>", or the refusal of checking the store against version `version`'s package.
    std::string check(int version, const StoreCheckRequest& request) const {
        const fs::path file = package(version);
        CancelToken token;
        return testing::refusalOf([&] {
            checkContentStore(file, *parseStoreDigest(sha256OfFile(file)), fs::file_size(file), request,
                              token, {});
        });
    }
};

std::set<std::string> packNames(const ChunkIndex& index) {
    std::set<std::string> names;
    for (const IndexedPack& pack : index.packs)
        names.insert(packStorePath(pack.digest));
    return names;
}

// Every file of the store, "folder/name", and the bytes of those named.
std::set<std::string> storeFiles(const fs::path& store) {
    std::set<std::string> files;
    for (const wchar_t* folder : {L"indexes", L"packs"})
        for (const std::wstring& name : testing::listNames(store / folder))
            files.insert(testing::narrow(std::wstring(folder) + L"/" + name));
    return files;
}

std::uint64_t bytesOf(const fs::path& store, const std::set<std::string>& files) {
    std::uint64_t total = 0;
    for (const std::string& file : files)
        total += fs::file_size(store / testing::wide(file));
    return total;
}

TEST(StorePublishing, NextVersionWritesOnlyPacksOfItsNewChunksAndAnIndexOfThePackagesFiles) {
    PublishedStore published;
    published.publish(1);
    const std::set<std::string> afterFirst = storeFiles(published.store);
    const PublishSummary second = published.publish(2);
    const StorePublication& store = *second.store;

    // What it wrote is what it says to upload, and nothing of the first version changed.
    std::set<std::string> written;
    std::ranges::set_difference(storeFiles(published.store), afterFirst,
                                std::inserter(written, written.end()));
    EXPECT_EQ(written, std::set<std::string>(store.upload.begin(), store.upload.end()));
    written.erase(indexStorePath(store.indexDigest));
    const std::uint64_t newPackBytes = bytesOf(published.store, written);
    std::printf("second version: %zu new packs, %llu bytes, of a package of %llu bytes\n", written.size(),
                static_cast<unsigned long long>(newPackBytes),
                static_cast<unsigned long long>(second.package.bytes));
    // A few bytes changed in the large file: the chunk or two around them, not the file.
    EXPECT_LE(newPackBytes, 2 * std::uint64_t{defaultChunking.maximum});

    const nlohmann::json named = published.manifestIndex();
    const std::string digest = named.at("sha256");
    const fs::path indexFile = published.store / L"indexes" / testing::wide(digest + ".index");
    EXPECT_EQ(named.at("url"), storeUrl + "indexes/" + digest + ".index");
    EXPECT_EQ(named.at("size"), fs::file_size(indexFile));
    EXPECT_EQ(digest, storeDigestText(*parseStoreDigest(sha256OfFile(indexFile))));

    const ChunkIndex index = published.index(digest);
    EXPECT_EQ(index.packageDigest, *parseStoreDigest(second.package.sha256));
    EXPECT_EQ(index.version, "2026.12.2");
    EXPECT_EQ(index.directories, std::vector<std::string>{"TalvoPC/talvo-曜石纪元_Data"});
    std::vector<std::string> paths;
    for (const IndexedFile& file : index.files)
        paths.push_back(file.path);
    EXPECT_EQ(paths, (std::vector<std::string>{executable, "TalvoPC/UnityPlayer.dll",
                                               dataFolder + "globalgamemanagers",
                                               dataFolder + "globalgamemanagers.bak",
                                               dataFolder + "data.unity3d", dataFolder + "empty.txt"}));
    std::set<Sha256Digest> chunks;
    for (const IndexedChunk& chunk : index.chunks)
        chunks.insert(chunk.digest);
    EXPECT_EQ(chunks.size(), index.chunks.size()) << "a chunk two files share is listed once";
}

TEST(StoreCheck, RefusesAStoreFromWhichThePackageWouldNotBeRebuilt) {
    PublishedStore published;
    published.publish(1);
    const ChunkIndex index = published.index(published.manifestIndex().at("sha256"));
    const fs::path packFile =
        published.store / L"packs" / testing::wide(storeDigestText(index.packs.front().digest) + ".pack");
    const std::string shownPack = testing::narrow(packFile.native());
    // The index changed by `edit`, in a file of its own beside the store.
    const auto edited = [&](const wchar_t* name, const std::function<void(ChunkIndex&)>& edit) {
        ChunkIndex copy = index;
        edit(copy);
        testing::writeBytes(published.dir / name, serializeChunkIndex(copy));
        return published.dir / name;
    };
    const fs::path renamed = edited(L"renamed.index", [](ChunkIndex& copy) {
        copy.files[1].path = "TalvoPC/UnityPlayer2.dll"; // the executable's neighbour
    });
    const fs::path misnamed = edited(L"misnamed.index", [](ChunkIndex& copy) {
        copy.chunks[0].digest = copy.chunks[1].digest; // the executable's bytes under another digest
    });

    struct Case {
        const char* what;
        std::function<void()> damage;
        std::optional<fs::path> indexFile;
        std::string expected; // "<no error>", or how the refusal starts: "rule | subject | ..."
    };
    const Case cases[] = {
        {"as published", [] {}, std::nullopt, "<no error>"},
        {"a pack missing", [&] { fs::remove(packFile); }, std::nullopt,
         "store-pack-missing | " + shownPack + " | a pack of "},
        {"a byte of a pack flipped",
         [&] {
             std::string bytes = testing::readBytes(packFile);
             bytes[bytes.size() / 2] ^= 1;
             testing::writeBytes(packFile, bytes);
         },
         std::nullopt, "store-pack-digest | " + shownPack + " | " + storeDigestText(index.packs[0].digest)},
        {"a chunk whose bytes have another digest", [] {}, misnamed,
         "store-chunk | " + shownPack + " | chunk 0 at offset 0 (9 stored bytes): 9 bytes with sha256 " +
             storeDigestText(index.chunks[1].digest) + " | 9 bytes with sha256 " +
             storeDigestText(index.chunks[0].digest)},
        {"an index whose files differ", [] {}, renamed,
         "store-files | 1: TalvoPC/UnityPlayer.dll | TalvoPC/UnityPlayer2.dll (the index's next file) | "
         "TalvoPC/UnityPlayer.dll"},
    };
    const std::string packBytes = testing::readBytes(packFile);
    for (const Case& row : cases) {
        SCOPED_TRACE(row.what);
        row.damage();
        const std::string outcome =
            published.check(1, {.store = published.store, .indexFile = row.indexFile});
        EXPECT_EQ(outcome.substr(0, row.expected.size()), row.expected) << outcome;
        testing::writeBytes(packFile, packBytes);
    }
}

TEST(StorePrune, KeepingTheSecondVersionRemovesWhatOnlyTheFirstUsedAndLeavesItCheckable) {
    PublishedStore published;
    published.packBytes = 1 << 20; // many small packs, some holding chunks of old.resource alone
    published.publish(1);
    const std::string first = published.manifestIndex().at("sha256");
    published.publish(2);
    const std::string second = published.manifestIndex().at("sha256");
    const std::set<std::string> secondPacks = packNames(published.index(second));
    std::set<std::string> doomed = {"indexes/" + first + ".index"};
    std::ranges::set_difference(packNames(published.index(first)), secondPacks,
                                std::inserter(doomed, doomed.end()));
    ASSERT_GT(doomed.size(), 1u) << "some pack holds chunks of the first version alone";
    testing::writeBytes(published.store / L"packs" / L"upload-notes.txt", "not the store's"); // stays
    const std::set<std::string> before = storeFiles(published.store);
    const std::uint64_t doomedBytes = bytesOf(published.store, doomed);

    const std::string absent(64, 'e');
    EXPECT_EQ(testing::refusalOf([&] {
                  pruneContentStore({published.store, {testing::wide(absent)}, false});
              }),
              "prune-keep-missing | --keep " + absent + " | an index in " +
                  testing::narrow((published.store / L"indexes").native()) + " | no indexes/" + absent +
                  ".index there");
    const PruneSummary dry = pruneContentStore({published.store, {published.manifest().native()}, true});
    EXPECT_EQ(storeFiles(published.store), before) << "a dry run removes nothing";

    const PruneSummary pruned = pruneContentStore({published.store, {published.manifest().native()}, false});
    EXPECT_EQ(std::set<std::string>(pruned.removed.begin(), pruned.removed.end()), doomed);
    EXPECT_EQ(pruned.removed, dry.removed);
    EXPECT_EQ(pruned.freedBytes, doomedBytes);
    EXPECT_GT(pruned.unusedBytes, 0u) << "the first version's chunks beside the second's in kept packs";
    std::set<std::string> left = secondPacks;
    left.insert("indexes/" + second + ".index");
    left.insert("packs/upload-notes.txt");
    EXPECT_EQ(storeFiles(published.store), left);
    EXPECT_EQ(published.check(2, {.store = published.store, .indexFile = std::nullopt}), "<no error>");
}

TEST(StorePrune, RemovesNothingThroughAStoreFolderThatIsALink) {
    const char* fixture = std::getenv("LAUNCHER_TEST_PACK_FIXTURE");
    if (fixture == nullptr) GTEST_SKIP() << "needs the host fixture of CTest";
    // A store of one index that uses no pack, whose packs folder leads to ../elsewhere.
    const fs::path store = fs::path(fixture) / L"store";
    const std::wstring index = testing::listNames(store / L"indexes").at(0);
    const fs::path outside = fs::path(fixture) / L"elsewhere" / testing::wide(std::string(64, '0') + ".pack");
    EXPECT_EQ(testing::refusalOf([&] {
                  pruneContentStore({store, {index.substr(0, 64)}, false});
              }),
              "store-link | " + testing::narrow((store / L"packs").native()) +
                  " | a folder of the store | a directory link");
    EXPECT_TRUE(fs::exists(outside));
}

} // namespace
} // namespace launcher
