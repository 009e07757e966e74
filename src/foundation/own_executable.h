#pragma once

#include <filesystem>

namespace launcher {

// The full path of the running program's executable, as the system loaded it. Any thread.
std::filesystem::path ownExecutablePath();

} // namespace launcher
