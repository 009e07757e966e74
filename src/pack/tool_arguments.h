#pragma once

#include "foundation/error.h"
#include "pack/deployment_verify.h"
#include "pack/pack_command.h"
#include "pack/update_publish.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace launcher {

// Wrong use of the command line; what() says what was wrong.
struct UsageError : Error {
    using Error::Error;
};

struct ToolCommand {
    enum class Kind { pack, check, keygen, publish, verify, help } kind = Kind::help;
    PackRequest pack;                                // for pack
    PublishRequest publish;                          // for publish
    VerifyRequest verify;                            // for verify
    std::filesystem::path package;                   // for check
    std::filesystem::path keyFile;                   // for keygen
    std::optional<std::filesystem::path> configFile; // for check
    bool stats = false;                              // print time and peak memory at the end
};

// The command described by the arguments after the program name. Throws UsageError. Pure.
ToolCommand parseToolArguments(const std::vector<std::wstring>& arguments);

// The usage text, UTF-8.
std::string toolUsage();

} // namespace launcher
