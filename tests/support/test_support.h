#pragma once

// Small helpers shared by the test programs: real temporary directories and files, and a way
// to assert the player-facing sentence of a failure.
#include "foundation/error.h"

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace launcher::testing {

// A fresh, empty directory under `parent` (by default the system temporary folder), deleted with
// its contents at the end of the test. Never holds links, so plain recursive removal is safe here.
class TempDir {
public:
    explicit TempDir(const std::filesystem::path& parent = std::filesystem::temp_directory_path());
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& child) const { return path_ / child; }

private:
    std::filesystem::path path_;
};

void writeBytes(const std::filesystem::path& path, std::string_view bytes);
std::string readBytes(const std::filesystem::path& path);

// Names of the files directly inside `directory`, sorted.
std::vector<std::wstring> listNames(const std::filesystem::path& directory);

// What a call failed with: the Error's sentence, "<other: ...>" for any other exception, or
// "<no error>" if it returned normally.
std::string failureOf(const std::function<void()>& call);

// `size` deterministic, incompressible bytes for bodies whose content matters.
std::string patternBytes(std::size_t size);

// True under Wine, for the few checks where Wine's file system differs from Windows.
bool runningUnderWine();

// UTF-16 text of a UTF-8 literal, for readable expectations.
std::wstring wide(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

} // namespace launcher::testing
