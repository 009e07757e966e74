#pragma once

// A client package read entry by entry in archive order, as a content store lists it: folders by
// path, files by path with their inflated bytes. Shared by publishing into a store and checking one.
#include "foundation/cancel_token.h"
#include "foundation/progress.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace launcher {

// An entry's path as the store writes it: the decoded name's segments joined by "/", with the
// empty ones (a folder's trailing slash, doubled separators) left out, and backslashes counted as
// slashes as the install counts them. Pure.
std::string storeEntryPath(std::wstring_view name);

struct StoreEntry {
    std::string path; // storeEntryPath of its name
    std::uint64_t size = 0;
    std::string shown; // "<index>: <name>", for refusals
};

// What a reader of the package does with its entries, in archive order. Any of them may throw;
// the reading stops and the exception reaches the caller of readStoreEntries.
class StoreEntryVisitor {
public:
    virtual ~StoreEntryVisitor() = default;
    virtual void directory(const StoreEntry& entry) = 0;
    virtual void beginFile(const StoreEntry& entry) = 0;
    virtual void fileBytes(const std::uint8_t* bytes, std::size_t count) = 0;
    virtual void endFile() = 0;
};

// Reads every entry of `package` (shown in refusals as `shown`) and hands it to `visitor`.
// `progress` hears `status` with the bytes of files read so far and their declared total. Throws
// ToolRefusal (package-unreadable, package-not-zip, entry-damaged) or Canceled; a package the
// launcher would refuse for other reasons is refused by checkClientPackage, which runs first.
void readStoreEntries(const std::filesystem::path& package, const std::string& shown, CancelToken& token,
                      const std::wstring& status, const ProgressCallback& progress,
                      StoreEntryVisitor& visitor);

} // namespace launcher
