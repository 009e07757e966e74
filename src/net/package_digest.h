#pragma once

#include <string>

namespace launcher {

// Whether a computed package digest matches the configured one: letter case does not matter, and
// an empty configured digest (allowed for HTTPS only) accepts any. Pure.
bool packageDigestMatches(const std::string& configured, const std::string& computed);

// What the install reports when they do not match.
inline constexpr const char* packageDigestMismatchMessage = "安装包 SHA256 校验失败，请重试或联系管理员。";

} // namespace launcher
