#include "support/test_support.h"
#include "update/chunk_index.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>
#include <zlib.h>

#include <functional>
#include <sstream>

namespace launcher {
namespace {

using nlohmann::json;
using testing::failureOf;

const std::string invalid = "客户端分块索引无效。";

Sha256Digest digestOf(std::string_view text) {
    return sha256Digest(text.data(), text.size());
}

std::string hexOf(std::string_view text) {
    return storeDigestText(digestOf(text));
}

std::string zlibOf(std::string_view text) {
    uLongf size = compressBound(static_cast<uLong>(text.size()));
    std::string compressed(size, '\0');
    EXPECT_EQ(compress(reinterpret_cast<Bytef*>(compressed.data()), &size,
                       reinterpret_cast<const Bytef*>(text.data()), static_cast<uLong>(text.size())),
              Z_OK);
    compressed.resize(size);
    return compressed;
}

// Every field of an index, one line each, so a difference names the field.
std::string describe(const ChunkIndex& index) {
    std::ostringstream out;
    out << "version " << index.version << "\npackage " << storeDigestText(index.packageDigest) << ' '
        << index.packageSize << "\nchunking " << index.chunking.minimum << ' ' << index.chunking.average
        << ' ' << index.chunking.maximum << '\n';
    for (const IndexedPack& pack : index.packs)
        out << "pack " << storeDigestText(pack.digest) << ' ' << pack.size << '\n';
    for (const IndexedChunk& chunk : index.chunks)
        out << "chunk " << storeDigestText(chunk.digest) << ' ' << chunk.size << ' ' << chunk.pack << ' '
            << chunk.offset << ' ' << chunk.storedLength << '\n';
    for (const std::string& directory : index.directories)
        out << "directory " << directory << '\n';
    for (const IndexedFile& file : index.files) {
        out << "file " << file.path << ' ' << file.size << ' ' << storeDigestText(file.digest) << " [";
        for (const std::uint32_t chunk : file.chunks)
            out << ' ' << chunk;
        out << " ]\n";
    }
    return out.str();
}

TEST(ChunkIndex, ReadsBackEveryFieldItWrote) {
    ChunkIndex index;
    index.version = "2.0.1-曜石";
    index.packageDigest = digestOf("package");
    index.packageSize = 5'000'000'000;
    index.chunking = {64, 256, 1024};
    index.packs = {{digestOf("pack 0"), 2000}, {digestOf("pack 1"), 5'000'000'000}};
    index.chunks = {{digestOf("chunk 0"), 1000, 0, 0, 1000},
                    {digestOf("chunk 1"), 1024, 0, 1000, 1000},
                    {digestOf("chunk 2"), 700, 1, 4'999'999'900, 100}};
    index.directories = {"TalvoPC", "TalvoPC/talvo_Data/插件"};
    const std::string longPath = "TalvoPC/" + std::string(4095 - 8, 'x');
    index.files = {{"TalvoPC/talvo.exe", 2724, digestOf("whole file"), {0, 1, 2}},
                   {"TalvoPC/talvo_Data/名字.txt", 700, digestOf("chunk 2"), {2}},
                   {"TalvoPC/empty.dat", 0, digestOf(""), {}},
                   {longPath, 1000, digestOf("chunk 0"), {0}}};

    EXPECT_EQ(describe(parseChunkIndex(serializeChunkIndex(index))), describe(index));
}

json validDocument() {
    const auto chunk = [](const char* content, int size, int offset, int stored) {
        return json::array({hexOf(content), size, 0, offset, stored});
    };
    json document = {{"format", 1},
                     {"version", "2.0.1"},
                     {"package", {{"sha256", hexOf("package")}, {"size", 1000}}},
                     {"chunking", {{"minimum", 262144}, {"average", 1048576}, {"maximum", 4194304}}}};
    document["packs"] = json::array({json::object({{"name", hexOf("pack")}, {"size", 400}})});
    document["chunks"] = json::array({chunk("a", 100, 0, 100), chunk("b", 300, 100, 250)});
    document["directories"] = json::array({"TalvoPC"});
    document["files"] = json::array({json::array({"TalvoPC/talvo.exe", 400, {0, 1}, hexOf("ab")}),
                                     json::array({"TalvoPC/level0", 100, {0}})});
    return document;
}

std::string brokenIndex(const std::function<void(json&)>& breaking) {
    json document = validDocument();
    breaking(document);
    return zlibOf(document.dump());
}

TEST(ChunkIndex, RefusesEveryInconsistentDocument) {
    ASSERT_EQ(failureOf([] { parseChunkIndex(zlibOf(validDocument().dump())); }), "<no error>");
    const auto refused = [](const std::string& bytes, const char* what) {
        EXPECT_EQ(failureOf([&] { parseChunkIndex(bytes); }), invalid) << what;
    };
    refused(validDocument().dump(), "not zlib");
    refused(zlibOf("{\"format\": 1,"), "zlib of no JSON");
    refused(brokenIndex([](json& d) { d["format"] = 2; }), "format 2");
    refused(brokenIndex([](json& d) { d["chunks"][1][0] = "AB" + hexOf("b").substr(2); }), "upper case");
    refused(brokenIndex([](json& d) { d["files"][1][2][0] = 2; }), "chunk reference out of range");
    refused(brokenIndex([](json& d) { d["chunks"][0][2] = 1; }), "pack reference out of range");
    refused(brokenIndex([](json& d) { d["chunks"][1][3] = 151; }), "chunk outside its pack");
    refused(brokenIndex([](json& d) {
                d["packs"][0]["size"] = 1000;
                d["chunks"][1][4] = 301;
            }),
            "stored length above size");
    refused(brokenIndex([](json& d) {
                d["packs"][0]["size"] = 8'000'000;
                d["chunks"][1][1] = 4194305;
                d["files"][0][1] = 4194405;
            }),
            "chunk above the maximum");
    refused(brokenIndex([](json& d) { d["files"][0][1] = 401; }), "chunk sizes not adding up");
    refused(brokenIndex([](json& d) { d["files"][0].erase(3); }), "two chunks without digest");
    refused(brokenIndex([](json& d) { d["files"][1].push_back(hexOf("a")); }), "one chunk with digest");
    refused(brokenIndex([](json& d) { d["directories"][0] = ""; }), "empty path");
    refused(brokenIndex([](json& d) { d["files"][1][0] = std::string(4096, 'x'); }), "path of 4096 bytes");
    refused(brokenIndex([](json& d) {
                d["directories"] = json::array();
                for (std::size_t i = 0; i < maxIndexEntries / 2; ++i)
                    d["directories"].push_back("d");
                for (std::size_t i = 0; i <= maxIndexEntries / 2; ++i)
                    d["files"].push_back(json::array({"f", 0, json::array()}));
            }),
            "more than 200000 paths");
    refused(brokenIndex([](json& d) { d["chunking"]["average"] = 1000000; }), "average not a power of two");
}

// A compressed stream of `document` followed by `padding` spaces, made without holding them.
std::string paddedIndex(const std::string& document, std::uint64_t padding) {
    z_stream stream{};
    EXPECT_EQ(deflateInit(&stream, Z_BEST_COMPRESSION), Z_OK);
    std::string compressed;
    const std::string spaces(1 << 20, ' ');
    std::string out(1 << 16, '\0');
    const auto pump = [&](const std::string& input, int flush) {
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
        stream.avail_in = static_cast<uInt>(input.size());
        do {
            stream.next_out = reinterpret_cast<Bytef*>(out.data());
            stream.avail_out = static_cast<uInt>(out.size());
            deflate(&stream, flush);
            compressed.append(out.data(), out.size() - stream.avail_out);
        } while (stream.avail_out == 0);
    };
    pump(document, Z_NO_FLUSH);
    for (std::uint64_t left = padding; left > 0; left -= spaces.size())
        pump(spaces, Z_NO_FLUSH);
    pump("", Z_FINISH);
    deflateEnd(&stream);
    return compressed;
}

std::uint64_t peakWorkingSet() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    EXPECT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters));
    return counters.PeakWorkingSetSize;
}

// A quarter of a megabyte that would inflate to 256 MiB: refused once the limit is passed, having
// used no more memory than the limit's worth.
TEST(ChunkIndex, RefusesAnIndexInflatingBeyondTheLimit) {
    const std::string bomb = paddedIndex(validDocument().dump(), std::uint64_t{256} << 20);
    ASSERT_LT(bomb.size(), 512u << 10);
    const std::uint64_t before = peakWorkingSet();
    EXPECT_EQ(failureOf([&] { parseChunkIndex(bomb); }), invalid);
    EXPECT_LT(peakWorkingSet() - before, 4 * maxChunkIndexBytes);
}

} // namespace
} // namespace launcher
