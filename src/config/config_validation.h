#pragma once

#include "config/launcher_config.h"

#include <string>

namespace launcher {

// Accepts the configuration or throws the first rule's Error: platform, login endpoint, download
// endpoint, package digest, size limits, install directory, executable path. A missing member or
// one of the wrong JSON type raises the JSON library's error. Changes nothing.
void validateLauncherConfig(const LauncherConfig& config);

// Whether `digest` is a SHA-256 written as 64 hexadecimal digits of either case.
bool isHexDigest(const std::string& digest);

} // namespace launcher
