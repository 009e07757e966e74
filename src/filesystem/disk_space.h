#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace launcher {

// "磁盘空间不足：需要约 N GB，可用 M GB。" with one decimal; the need rounded up and the free space
// down, so the two figures never read the same.
std::string diskSpaceMessage(std::uint64_t neededBytes, std::uint64_t availableBytes);

// Throws Error(diskSpaceMessage) when the volume holding `directory` (which exists) has less room
// for this user than `neededBytes`. A volume that cannot be asked is not refused.
void requireFreeSpace(const std::filesystem::path& directory, std::uint64_t neededBytes);

} // namespace launcher
