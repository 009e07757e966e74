#pragma once

#include "foundation/resource_ids.h"

#include <string>

namespace launcher {

inline constexpr int iconResourceId = LAUNCHER_ICON_RESOURCE;
inline constexpr int skinResourceId = LAUNCHER_SKIN_RESOURCE;
inline constexpr int builtinConfigResourceId = LAUNCHER_BUILTIN_CONFIG_RESOURCE;
// Each launcher executable's own update channel, {"manifestUrl": ..., "publicKeys": [...]} in UTF-8.
inline constexpr int updateChannelResourceId = LAUNCHER_UPDATE_CHANNEL_RESOURCE;

// Copies the bytes of the executable's own raw-data resource `id`.
// Throws Error("启动器资源不完整。") if the executable does not hold it.
std::string loadResourceBytes(int id);

} // namespace launcher
