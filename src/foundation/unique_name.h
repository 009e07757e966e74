#pragma once

#include <string>

namespace launcher {

// A fresh GUID as 32 upper-case hexadecimal digits, for temporary and staging names.
// Throws Error("无法创建临时目录。") if no GUID can be made.
std::string newUniqueHexName();

} // namespace launcher
