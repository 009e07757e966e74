#pragma once

// What a launcher executable carries about itself in its resources: its version (the fixed file
// version of its version information) and its update channel (a small JSON document). The launcher
// reads its own at start; the publisher's tool reads an offered build's before it is published, so
// both see the same facts.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace launcher {

// Where the build looks for its update manifest and the keys whose signature it follows (one, or two
// while the operator moves to a new key); both empty when the build's updates are off.
struct BuildChannel {
    std::string manifestUrl;             // UTF-8
    std::vector<std::string> publicKeys; // ECDSA P-256, X‖Y in hexadecimal
};

struct BuildIdentity {
    std::optional<std::string> version;  // "a.b.c.d"; absent without version information
    std::optional<BuildChannel> channel; // absent without a readable channel resource
};

// The channel document {"manifestUrl": "...", "publicKeys": ["...", ...]}, or the one-key form of
// earlier builds, {"manifestUrl": "...", "publicKey": "..."} (an empty key: none); nothing when it is
// neither. Pure.
std::optional<BuildChannel> parseBuildChannel(std::string_view document);

// The running executable's own.
BuildIdentity runningBuildIdentity();

// Another executable's, loaded as a data file: its code never runs. Throws
// Error("无法读取启动器文件的资源：<path>") when it cannot be loaded as an executable.
BuildIdentity readBuildIdentity(const std::filesystem::path& executable);

} // namespace launcher
