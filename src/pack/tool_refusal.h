#pragma once

// How gatehouse-pack refuses: one type every command throws for what it will not accept, carrying
// what an operator needs to put it right, printed alike by every command (pack_main.cpp).
#include "foundation/error.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace launcher {

// What a refusal concerns; its label in the printed refusal ("file:", "entry:", ...).
enum class RefusalSubject { none, file, entry, address, option };

struct RefusalDetails {
    std::string rule; // a short, stable English identifier for scripts: entry-path-too-long, ...
    RefusalSubject kind = RefusalSubject::none;
    std::string subject;  // the file, package entry, address or option concerned
    std::string expected; // what the rule asks for; empty when there is nothing to compare
    std::string actual;   // what was found
};

// A refusal of the tool. what() is the sentence for the operator (Chinese, like the tool's other
// messages); `details` are printed after it, in English, one per line:
//
//   gatehouse-pack: <sentence>
//     rule:     <rule>
//     <kind>:   <subject>
//     expected: <expected>
//     actual:   <actual>
//
// and make up "refusal" in the --json result. A command, new ones included, throws this for input
// it refuses; the tool exits with 1. Error and the library's exceptions that reach the tool's
// boundary are reported through it too (toolFailureOf in command_report.h).
struct ToolRefusal : Error {
    ToolRefusal(const std::string& sentence, RefusalDetails details);
    // One that concerns no file and compares no values.
    ToolRefusal(const std::string& sentence, std::string rule);
    RefusalDetails details;
};

// The details of a refusal that concerns `file`.
RefusalDetails aboutFile(const std::filesystem::path& file, std::string rule, std::string expected,
                         std::string actual);

// The printed form above, ending in a newline.
std::string refusalText(const ToolRefusal& refusal);

// {"rule", "subjectKind", "subject", "expected", "actual", "message"}.
nlohmann::json refusalJson(const ToolRefusal& refusal);

// UTF-8 for any text from the file system: a unit that is not valid UTF-16 is shown as \uXXXX.
// Never throws.
std::string shownText(std::wstring_view utf16);
std::string shownPath(const std::filesystem::path& path);

// The system's sentence for an error code (GetLastError), without its line break.
std::string systemReason(int code);

// "N bytes", with thousands grouped: sizes operators compare by eye.
std::string byteCount(std::uint64_t bytes);

// For use inside a catch block: rethrows the exception being handled as a ToolRefusal naming
// `file`, with `rule`, `sentence` and `expected`; its own message (the JSON library's "parse error
// at line 3, column 5: ...", the system's reason for a file-system error, the launcher's sentence)
// becomes `actual`. A ToolRefusal or Canceled goes on unchanged.
[[noreturn]] void rethrowNamingFile(const std::filesystem::path& file, const std::string& rule,
                                    const std::string& sentence, const std::string& expected = {});

} // namespace launcher
