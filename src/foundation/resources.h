#pragma once

#include <string>

namespace launcher {

inline constexpr int skinResourceId = 101;
inline constexpr int builtinConfigResourceId = 102;

// Copies the bytes of the executable's own raw-data resource `id`.
// Throws Error("启动器资源不完整。") if the executable does not hold it.
std::string loadResourceBytes(int id);

} // namespace launcher
