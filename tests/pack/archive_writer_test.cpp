// The archive writer past the classic ZIP limits, read back by the launcher's own reader: no port,
// so it runs beside the tests that hold the loopback ports.
#include "install/package_extraction.h"
#include "pack/archive_writer.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace launcher {
namespace {

using testing::TempDir;
namespace fs = std::filesystem;

TEST(ArchiveWriter, CountsAndSizesPastTheClassicZipLimitsAreWrittenAsZip64AndReadBack) {
    TempDir dir;
    std::vector<PackEntry> entries;
    for (int index = 0; index < 70000; ++index) {
        char name[16];
        std::snprintf(name, sizeof name, "d%05d/", index);
        entries.push_back({.name = name, .directory = true});
    }
    // Zeros past 4 GiB: a sparse file on disk, a few megabytes once deflated.
    const fs::path large = dir / L"large.bin";
    const std::uint64_t size = (std::uint64_t{4} << 30) + (1 << 20);
    {
        testing::writeBytes(large, "");
        fs::resize_file(large, size);
    }
    entries.push_back({.name = "large.bin", .source = large.native(), .size = size});
    CancelToken token;
    const ArchiveSummary written = writeClientArchive(entries, dir / L"out.zip", 2, token, {});
    EXPECT_LT(written.bytes, std::uint64_t{64} << 20);

    PackageVerification listing;
    verifyClientPackage(dir / L"out.zip", dir / L"Client", size, token, {}, listing);
    EXPECT_EQ(listing.directories.size(), 70000u);
    ASSERT_EQ(listing.files.size(), 1u);
    EXPECT_EQ(listing.files[0]["length"], size);
}

} // namespace
} // namespace launcher
