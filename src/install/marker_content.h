#pragma once

// The installed-client marker as the readiness check reads it, and the rules it is judged by,
// apart from the file system queries that finish the check.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace launcher {

inline constexpr std::uint64_t maxMarkerFileBytes = 33554432;

// A top-level text member: an empty text when missing; reading one of another type fails.
struct MarkerText {
    std::string text;
    bool wrongType = false;
};

struct RecordedFile {
    std::uint64_t length;
    std::uint32_t pathEnd; // the path is MarkerContent::paths from the previous entry's end to this one
    bool wellFormed;       // an object with a text `path` and a numeric `length`
};
static_assert(maxMarkerFileBytes <= UINT32_MAX, "paths are shorter than the marker");

// What the check needs from the marker. A client lists hundreds of thousands of files, and a
// document of that many objects costs more to build and free than the check itself.
struct MarkerContent {
    bool isObject = false;
    MarkerText version, sha256;
    bool hasFilesArray = false;
    std::string paths;
    // Every entry up to the first that is not well formed, which ends the list: the check stops there.
    std::vector<RecordedFile> files;
};

// Reads the marker's bytes. False when they are not JSON, not an object, or hold a `version` or
// `sha256` that is not text; a `files` list that is missing or damaged is left for the rules.
bool readMarkerContent(std::string_view bytes, MarkerContent& content);

// Why the client a marker describes is not ready, as the log names it; an empty reason means ready.
struct MarkerVerdict {
    const char* reason = "";
    std::wstring path; // the recorded file the reason concerns, resolved
};

// Asks of every recorded file, resolved below `directory` (absolute, normalised), why it is not
// as recorded: a reason, or nullptr when it is.
using RecordedFileCheck = std::function<const char*(const std::wstring& path, std::uint64_t length)>;

// The marker against the configured version and digest (an empty digest accepts the recorded
// one), then each recorded file in order until the first reason. Throws Error for a recorded
// path the package rules refuse.
MarkerVerdict judgeMarker(const MarkerContent& marker, std::string_view version, const std::string& digest,
                          std::wstring_view directory, const RecordedFileCheck& checkFile);

} // namespace launcher
