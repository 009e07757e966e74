#pragma once

// The rules a configuration document must pass on its own, before any path is resolved.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

namespace launcher {

// The largest content-store index a clientPackage may name ("index": {"url", "size", "sha256"}).
inline constexpr std::uint64_t maxStoreIndexBytes = 33554432;

// Accepts the document or throws the first rule's Error: platform, login endpoint, download
// endpoint, package digest, size limits, the store index when there is one. A missing member or one of the
// wrong JSON type raises the JSON library's error. Pure.
void validateConfigDocument(const nlohmann::json& document);

// The document's `platId`, 0 when absent. A whole number within 32-bit signed range, however it
// is written (81, 81.0, 8.1e1); a fraction, a number beyond that range or another JSON type
// raises the library's type error. The upgrade and the rules read it alike. Pure.
int readPlatId(const nlohmann::json& document);

// Whether `digest` is a SHA-256 written as 64 hexadecimal digits of either case.
bool isHexDigest(const std::string& digest);

} // namespace launcher
