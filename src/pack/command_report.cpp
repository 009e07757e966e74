#include "pack/command_report.h"

#include <filesystem>

namespace launcher {
namespace {

using nlohmann::json;

// Dumped with invalid UTF-8 replaced: an archive's entry names are whatever bytes it holds.
std::string oneLine(const json& document) {
    return document.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

json commandName(std::string_view command) {
    return command.empty() ? json() : json(command);
}

} // namespace

std::string resultJson(std::string_view command, const CommandResult& result) {
    json document = {{"command", commandName(command)},
                     {"ok", result.exitCode == exitDone},
                     {"exitCode", result.exitCode}};
    document.update(result.fields);
    if (!result.warnings.empty()) document["warnings"] = result.warnings;
    return oneLine(document);
}

std::string refusalJsonLine(std::string_view command, int exitCode, const ToolRefusal& refusal) {
    return oneLine({{"command", commandName(command)},
                    {"ok", false},
                    {"exitCode", exitCode},
                    {"refusal", refusalJson(refusal)}});
}

ToolFailure toolFailureOf(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const ToolRefusal& refusal) {
        return {exitRefused, refusal};
    } catch (const Canceled& canceled) {
        return {exitInterrupted, ToolRefusal(canceled.what(), "interrupted")};
    } catch (const std::filesystem::filesystem_error& error) {
        // The library names the path it failed on; the launcher's own code throws it only there.
        return {exitRefused, ToolRefusal("文件操作失败。", {.rule = "file-system",
                                                            .kind = RefusalSubject::file,
                                                            .subject = shownPath(error.path1()),
                                                            .expected = {},
                                                            .actual = error.code().message()})};
    } catch (const std::exception& error) {
        return {exitRefused, ToolRefusal(std::string("操作失败：") + error.what(), "failed")};
    } catch (...) {
        return {exitRefused, ToolRefusal("操作失败。", "failed")};
    }
}

ToolFailure usageFailure(const std::string& problem) {
    return {exitUsage, ToolRefusal(problem, "usage")};
}

} // namespace launcher
