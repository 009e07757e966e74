#pragma once

// The rules a configuration document must pass on its own, before any path is resolved.
#include <nlohmann/json.hpp>

#include <string>

namespace launcher {

// Accepts the document or throws the first rule's Error: platform, login endpoint, download
// endpoint, package digest, size limits. A missing member or one of the wrong JSON type raises
// the JSON library's error. Pure.
void validateConfigDocument(const nlohmann::json& document);

// Whether `digest` is a SHA-256 written as 64 hexadecimal digits of either case.
bool isHexDigest(const std::string& digest);

} // namespace launcher
