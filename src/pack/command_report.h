#pragma once

// How a command of gatehouse-pack ends: its exit code, and what it prints. A command's run function
// returns a CommandResult when it is done and throws a ToolRefusal (or Canceled) when it is not;
// the entry point prints either as text or, with --json, as one JSON object on stdout. A new
// command joins with a parser function in tool_arguments.cpp (which gives it --json, --stats and
// --help), a run function in pack_main.cpp returning its CommandResult, and a case in runCommand.
#include "pack/tool_refusal.h"

#include <nlohmann/json.hpp>

#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace launcher {

// The exit codes of every command, listed by --help.
inline constexpr int exitDone = 0;
inline constexpr int exitRefused = 1;       // the input was refused, or the work failed
inline constexpr int exitUsage = 2;         // wrong command line
inline constexpr int exitInterrupted = 130; // Ctrl+C, as shells report an interrupted command

struct CommandResult {
    // exitRefused for a command that finished and found faults it reports in its fields (verify's
    // failed checks); the tool then exits with it.
    int exitCode = exitDone;
    std::string text;                                 // printed on stdout without --json
    nlohmann::json fields = nlohmann::json::object(); // the --json object's own members
    std::vector<std::string> warnings;                // stderr lines; "warnings" with --json
};

// The JSON printed with --json, one line: {"command", "ok", "exitCode", ...fields, "warnings": [...]}
// (warnings only when there are some); "ok" is whether the exit code is 0.
std::string resultJson(std::string_view command, const CommandResult& result);

// The same for a command that did not finish: {"command", "ok": false, "exitCode", "refusal"}.
// `command` may be empty when the command line named none; it is then null.
std::string refusalJsonLine(std::string_view command, int exitCode, const ToolRefusal& refusal);

// Any exception that reached the tool's boundary as a refusal, with the exit code it ends the tool
// with: a ToolRefusal as it is (1), Canceled as rule "interrupted" (130), a file-system error
// naming its path (1), anything else as rule "failed" with its message (1).
struct ToolFailure {
    int exitCode;
    ToolRefusal refusal;
};
ToolFailure toolFailureOf(std::exception_ptr failure);

// A wrong command line as a refusal: rule "usage", exit code 2.
ToolFailure usageFailure(const std::string& problem);

} // namespace launcher
