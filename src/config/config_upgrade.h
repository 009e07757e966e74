#pragma once

#include <nlohmann/json.hpp>

namespace launcher {

// Brings a configuration document read from disk up to date against the built-in one: adds
// missing top-level members, and replaces the login address and client package members that
// earlier launchers wrote. Returns whether the document changed. Pure; throws the JSON
// library's type error when a member it reads has the wrong type.
bool upgradeConfigDocument(nlohmann::json& document, const nlohmann::json& builtIn);

} // namespace launcher
