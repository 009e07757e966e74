#pragma once

#include <string>

namespace launcher {

inline constexpr int skinResourceId = 101;
inline constexpr int builtinConfigResourceId = 102;
// Each launcher executable's own update channel, {"manifestUrl": ..., "publicKey": ...} in UTF-8.
inline constexpr int updateChannelResourceId = 103;

// Copies the bytes of the executable's own raw-data resource `id`.
// Throws Error("启动器资源不完整。") if the executable does not hold it.
std::string loadResourceBytes(int id);

} // namespace launcher
