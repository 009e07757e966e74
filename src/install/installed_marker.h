#pragma once

#include "config/launcher_config.h"
#include "foundation/cancel_token.h"
#include "install/marker_content.h" // maxMarkerFileBytes

#include <nlohmann/json.hpp>

#include <string>

namespace launcher {

// The marker's bytes: compact JSON {"files", "sha256", "version"} in key order, raw UTF-8.
std::string serializeInstalledMarker(const std::string& version, const std::string& sha256,
                                     const nlohmann::json& files);

// Whether the installed client matches the configuration and is complete, judged by the marker
// and file sizes (nothing is hashed). Every failure means false; only Canceled is thrown.
bool isInstalledClientReady(const LauncherConfig& config, CancelToken& token);

// Whether `directory` holds every file its marker records, each of its recorded size with no link
// on the way, whatever version the marker names. Every failure means false; only Canceled is thrown.
bool isRecordedClientComplete(const std::filesystem::path& directory, CancelToken& token);

} // namespace launcher
