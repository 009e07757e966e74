#pragma once

// Constants of one build: the endpoints plain HTTP is pinned to, and the values the automatic
// upgrade of older configuration files recognises.
#include "deployment_values.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace launcher {

inline constexpr std::uint16_t lanLoginPort = 9915;
inline constexpr std::wstring_view lanLoginPath = L"/api/GameLoginLog/GetUidTalvo";
inline constexpr std::uint16_t packagePort = 80;
inline constexpr std::wstring_view packagePathPrefix = L"/K3ClientRes/exe/TalvoPC/";
inline constexpr std::wstring_view packageFileSuffix = L".zip";

inline constexpr std::string_view requiredAuthenticationMode = "openApi";
inline constexpr std::string_view requiredSdkName = "PCtalvoSDK";
inline constexpr int requiredPlatId = 81;

// Login and package addresses written by earlier launchers; files that still carry them are
// moved to the built-in values when the launcher starts.
std::string legacyLoginProxyUrl();
std::string legacyPackageUrl();
inline constexpr std::array<std::wstring_view, 2> supersededPackageDigests = {
    L"25762c6ef8213818bd860a584344ded76bd14d40bded430731f21edd4b57a2ba",
    L"8856532ed2d92296b42a8bc03241da66f5786368089e04a466cb490f53c65622",
};
inline constexpr std::string_view placeholderExecutablePath = "Game.exe";

} // namespace launcher
