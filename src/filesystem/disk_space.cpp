#include "filesystem/disk_space.h"

#include "foundation/diagnostic_log.h"
#include "foundation/error.h"

#include <windows.h>

#include <string>

namespace launcher {
namespace {

constexpr unsigned gigabyteShift = 30;

// Bytes in tenths of a gigabyte, rounded up or down, without overflow for any count.
std::string tenthsText(std::uint64_t bytes, bool roundUp) {
    const std::uint64_t remainderTenths = (bytes & ((1ull << gigabyteShift) - 1)) * 10;
    std::uint64_t tenths = (bytes >> gigabyteShift) * 10 + (remainderTenths >> gigabyteShift);
    if (roundUp && (remainderTenths & ((1ull << gigabyteShift) - 1)) != 0) ++tenths;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

} // namespace

std::string diskSpaceMessage(std::uint64_t neededBytes, std::uint64_t availableBytes) {
    return "磁盘空间不足：需要约 " + tenthsText(neededBytes, true) + " GB，可用 " +
           tenthsText(availableBytes, false) + " GB。";
}

void requireFreeSpace(const std::filesystem::path& directory, std::uint64_t neededBytes) {
    // A share is only asked with a trailing separator.
    std::wstring folder = directory.native();
    if (!folder.ends_with(L'\\')) folder += L'\\';
    ULARGE_INTEGER available{};
    // Quotas count: the free space this user may fill, not the volume's.
    if (!::GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return;
    if (available.QuadPart >= neededBytes) return;
    logEvent("disk.short",
             {{"directory", directory}, {"needed", neededBytes}, {"available", available.QuadPart}});
    throw Error(diskSpaceMessage(neededBytes, available.QuadPart));
}

} // namespace launcher
