#pragma once

#include "foundation/error.h"
#include "pack/manifest_renewal.h"
#include "pack/deployment_verify.h"
#include "pack/pack_command.h"
#include "pack/store_check.h"
#include "pack/store_prune.h"
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
    enum class Kind { pack, check, keygen, publish, renew, verify, prune, help } kind = Kind::help;
    PackRequest pack;                                // for pack
    PublishRequest publish;                          // for publish
    RenewRequest renew;                              // for renew
    VerifyRequest verify;                            // for verify
    PruneRequest prune;                              // for prune
    std::optional<StoreCheckRequest> store;          // for check: a content store to check too
    std::filesystem::path package;                   // for check
    std::filesystem::path keyFile;                   // for keygen
    std::optional<std::filesystem::path> configFile; // for check
    bool stats = false;                              // print time and peak memory at the end
    bool json = false; // print the result as one JSON object on stdout (command_report.h)
};

// The command described by the arguments after the program name. Throws UsageError. Pure.
ToolCommand parseToolArguments(const std::vector<std::wstring>& arguments);

// The usage text, UTF-8.
std::string toolUsage();

// What the tool needs to report a command line it could not parse: the command it names ("" for
// none it knows) and whether --json was asked for anywhere on it. Pure.
std::string commandNameOf(const std::vector<std::wstring>& arguments);
bool asksForJson(const std::vector<std::wstring>& arguments);

} // namespace launcher
