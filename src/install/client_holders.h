#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace launcher {

// The running processes that hold the programs of the client in `directory` open (its .exe and
// .dll files, found by a walk that never follows a link and stops after a bounded number of
// entries), by name, as the Restart Manager reports them. Empty when none does, or when the
// Restart Manager cannot tell. Worker thread; takes a moment for a large client.
std::vector<std::wstring> processesHoldingClient(const std::filesystem::path& directory);

// The sentence for an old client that could not be moved aside even after waiting: the running
// game's when the rename failed on a held file and a process holds the client's programs; nullptr
// otherwise, when the rename failure itself is what is true (a permission problem, say). Pure.
const char* heldClientSentence(const std::error_code& renameError, std::size_t holdingProcesses);

} // namespace launcher
