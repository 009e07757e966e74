#pragma once

#include "config/document_rules.h" // validateConfigDocument, isHexDigest
#include "config/launcher_config.h"

#include <string>

namespace launcher {

// Accepts the configuration or throws the first rule's Error: platform, login endpoint, download
// endpoint, package digest, size limits, install directory, executable path. A missing member or
// one of the wrong JSON type raises the JSON library's error. Changes nothing.
void validateLauncherConfig(const LauncherConfig& config);

} // namespace launcher
