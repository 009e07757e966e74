#pragma once

#include <nlohmann/json.hpp>

#include <string_view>

namespace launcher {

// Brings a configuration document read from disk up to date against the built-in one: adds
// missing top-level members, and replaces the login address and client package members that
// earlier launchers wrote. Returns whether the document changed. Pure; throws the JSON
// library's type error when a member it reads has the wrong type.
bool upgradeConfigDocument(nlohmann::json& document, const nlohmann::json& builtIn);

// The configuration file's bytes as the document written there. Throws
// Error("启动器配置文件无效。") for JSON that is not an object, and the JSON library's errors unchanged.
nlohmann::json parseConfigDocument(std::string_view bytes);

// The configuration file's bytes as an up-to-date document; `upgraded` tells whether the file
// should be rewritten. Throws Error("启动器配置文件无效。") for JSON that is not an object, and
// the JSON library's errors unchanged.
nlohmann::json readConfigDocument(std::string_view bytes, const nlohmann::json& builtIn, bool& upgraded);

} // namespace launcher
