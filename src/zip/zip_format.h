#pragma once

#include <cstdint>

namespace launcher {

// Record signatures of the ZIP format, shared by the launcher's reader and the publisher's writer.
inline constexpr std::uint32_t zipLocalSignature = 0x04034b50;
inline constexpr std::uint32_t zipCentralSignature = 0x02014b50;
inline constexpr std::uint32_t zipZip64EndSignature = 0x06064b50;
inline constexpr std::uint32_t zipZip64LocatorSignature = 0x07064b50;
inline constexpr std::uint32_t zipEndSignature = 0x06054b50;
inline constexpr std::uint32_t zipDosDirectoryAttribute = 0x10;
// General-purpose flag: the name is UTF-8. Extra field id: ZIP64 sizes and offset.
inline constexpr std::uint16_t zipUtf8NameFlag = 0x0800;
inline constexpr std::uint16_t zipZip64ExtraId = 0x0001;

} // namespace launcher
