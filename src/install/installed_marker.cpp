#include "install/installed_marker.h"

#include "foundation/diagnostic_log.h"
#include "foundation/error.h"
#include "foundation/file_io.h"
#include "foundation/text.h"
#include "install/directory_links.h"
#include "install/game_executable_path.h"
#include "install/path_rules.h"
#include "install/unity_layout.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <unordered_set>
#include <vector>

namespace launcher {
namespace {

using nlohmann::json;

std::string textMember(const json& object, const char* key) {
    return object.value(key, std::string());
}

bool sameDigest(const std::string& a, const std::string& b) {
    return toLowerCase(multiByteToUtf16(a, codePageUtf8)) == toLowerCase(multiByteToUtf16(b, codePageUtf8));
}

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

// Fills a MarkerContent from the parser's events. Depth counts the open objects and arrays: the
// marker object is 1, its `files` array 2, an entry 3. A member given twice counts once, with the
// later value, as in a parsed document.
class MarkerReader {
public:
    explicit MarkerReader(MarkerContent& content) : content_(content) {}

    bool null() { return value(Kind::other); }
    bool boolean(bool) { return value(Kind::other); }
    // A `length` converts as the document's typed read converts any number: by a plain cast.
    bool number_integer(json::number_integer_t number) {
        return lengthValue(static_cast<std::uint64_t>(number));
    }
    bool number_unsigned(json::number_unsigned_t number) { return lengthValue(number); }
    bool number_float(json::number_float_t number, const std::string&) {
        return lengthValue(static_cast<std::uint64_t>(number));
    }
    bool binary(json::binary_t&) { return value(Kind::other); }

    bool string(std::string& text) {
        if (depth_ == 1 && content_.isObject) {
            if (MarkerText* member = textMember()) *member = {std::move(text), false};
        } else if (depth_ == 3 && inEntry_ && entryMember_ == EntryMember::path) {
            entryPath_ = text;
            hasEntryPath_ = true;
            return true;
        }
        return value(Kind::text);
    }

    bool start_object(std::size_t) {
        value(Kind::object);
        if (depth_ == 0) content_.isObject = true;
        if (depth_ == 2 && inFiles_) {
            inEntry_ = true;
            hasEntryPath_ = false;
            entryLength_.reset();
        }
        ++depth_;
        return true;
    }

    bool end_object() {
        --depth_;
        if (depth_ == 2 && inEntry_) {
            inEntry_ = false;
            record(hasEntryPath_ && entryLength_.has_value());
        }
        return true;
    }

    bool start_array(std::size_t) {
        value(Kind::array);
        if (depth_ == 1 && content_.isObject && topMember_ == TopMember::files) {
            content_.hasFilesArray = true;
            inFiles_ = true;
        }
        ++depth_;
        return true;
    }

    bool end_array() {
        --depth_;
        if (depth_ == 1) inFiles_ = false;
        return true;
    }

    bool key(std::string& name) {
        if (depth_ == 1) {
            topMember_ = name == "files"     ? TopMember::files
                         : name == "sha256"  ? TopMember::sha256
                         : name == "version" ? TopMember::version
                                             : TopMember::other;
        } else if (depth_ == 3 && inEntry_) {
            entryMember_ = name == "path"     ? EntryMember::path
                           : name == "length" ? EntryMember::length
                                              : EntryMember::other;
        }
        return true;
    }

    bool parse_error(std::size_t, const std::string&, const json::exception&) { return false; }

private:
    enum class Kind { text, number, object, array, other };
    enum class TopMember { files, sha256, version, other };
    enum class EntryMember { path, length, other };

    MarkerText* textMember() {
        if (topMember_ == TopMember::version) return &content_.version;
        if (topMember_ == TopMember::sha256) return &content_.sha256;
        return nullptr;
    }

    bool lengthValue(std::uint64_t length) {
        if (depth_ == 3 && inEntry_ && entryMember_ == EntryMember::length) {
            entryLength_ = length;
            return true;
        }
        return value(Kind::number);
    }

    // Any value other than the ones taken above, and the start of every object and array.
    bool value(Kind kind) {
        if (depth_ == 1 && content_.isObject) {
            if (MarkerText* member = textMember(); member && kind != Kind::text) *member = {{}, true};
            if (topMember_ == TopMember::files) {
                // A later `files` replaces an earlier one.
                content_.hasFilesArray = false;
                content_.paths.clear();
                content_.files.clear();
            }
        } else if (depth_ == 2 && inFiles_ && kind != Kind::object) {
            record(false);
        } else if (depth_ == 3 && inEntry_) {
            if (entryMember_ == EntryMember::path) hasEntryPath_ = false;
            if (entryMember_ == EntryMember::length) entryLength_.reset();
        }
        return true;
    }

    void record(bool wellFormed) {
        if (!content_.files.empty() && !content_.files.back().wellFormed) return;
        if (wellFormed) content_.paths += entryPath_;
        content_.files.push_back(
            {wellFormed ? *entryLength_ : 0, static_cast<std::uint32_t>(content_.paths.size()), wellFormed});
    }

    MarkerContent& content_;
    int depth_ = 0;
    TopMember topMember_ = TopMember::other;
    bool inFiles_ = false;
    bool inEntry_ = false;
    EntryMember entryMember_ = EntryMember::other;
    std::string entryPath_;
    bool hasEntryPath_ = false;
    std::optional<std::uint64_t> entryLength_;
};

// Most recorded paths are ASCII: those are widened directly into the reused buffer.
void utf8ToUtf16(std::string_view utf8, std::wstring& result) {
    if (std::ranges::all_of(utf8, [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        result.assign(utf8.begin(), utf8.end());
    else
        result = multiByteToUtf16(utf8, codePageUtf8);
}

// A regular file (not a directory, not a link) of exactly `length` bytes. A placeholder whose
// content is still in the cloud reports its full length and counts as present.
bool hasLength(const std::wstring& path, std::uint64_t length) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) return false;
    if (isLinkAt(path, data.dwFileAttributes)) return false;
    return (std::uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow) == length;
}

// Directories found to be plain directories, D among them.
struct CheckedDirectories {
    std::unordered_set<std::wstring> all;
    std::wstring last; // the files of one directory come in a row: most lookups end here
};

// Whether the directories between an already checked one and `file` are plain directories.
bool hasNoLinkAbove(std::wstring_view file, CheckedDirectories& checked) {
    const std::wstring_view fileFolder = file.substr(0, file.rfind(L'\\'));
    if (fileFolder == checked.last) return true;
    std::vector<std::wstring> unchecked;
    for (std::wstring folder(fileFolder); !checked.all.contains(folder); folder.resize(folder.rfind(L'\\'))) {
        if (folder.find(L'\\') == std::wstring::npos) return false; // walked past D: cannot happen
        unchecked.push_back(folder);
    }
    for (std::wstring& folder : unchecked) {
        const DWORD attributes = ::GetFileAttributesW(folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
            isLinkAt(folder, attributes))
            return false;
        checked.all.insert(std::move(folder));
    }
    checked.last = fileFolder;
    return true;
}

// Logs the first reason the installed client is not ready; always false.
bool notReady(std::string_view reason, const std::filesystem::path& path) {
    logEvent("check.not_ready", {{"reason", reason}, {"path", path}});
    return false;
}

bool markerMatches(const LauncherConfig& config, CancelToken& token) {
    const json& package = config.document.at("clientPackage");
    const std::filesystem::path directory = installDirectory(config);
    rejectDirectoryLinks(directory);
    const std::filesystem::path markerPath = directory / installedMarkerName;
    if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(markerPath)))
        return notReady("no marker", markerPath);

    const std::string bytes = readFileLimited(markerPath, maxMarkerFileBytes);
    MarkerContent marker;
    // Grown step by step, these cost more than the parse. The marker's size bounds both: the paths
    // are shorter than their JSON text, and an entry takes at least 22 bytes.
    marker.paths.reserve(bytes.size());
    marker.files.reserve(bytes.size() / 22 + 1);
    MarkerReader reader(marker);
    if (!json::sax_parse(bytes, &reader) || !marker.isObject || marker.version.wrongType ||
        marker.sha256.wrongType)
        return notReady("marker unreadable", markerPath);
    if (marker.version.text != textMember(package, "version")) {
        logEvent("check.not_ready", {{"reason", "version"},
                                     {"installed", marker.version.text},
                                     {"configured", textMember(package, "version")}});
        return false;
    }
    // A package configured without a digest (allowed over HTTPS) accepts the one the install recorded.
    const std::string configuredDigest = textMember(package, "sha256");
    if (!configuredDigest.empty() && !sameDigest(marker.sha256.text, configuredDigest)) {
        logEvent("check.not_ready",
                 {{"reason", "digest"}, {"installed", marker.sha256.text}, {"configured", configuredDigest}});
        return false;
    }
    if (!marker.hasFilesArray || marker.files.empty()) return notReady("no files recorded", markerPath);

    // D and its ancestors were checked above; what lies between D and each file is checked once
    // per directory, so a client of many files costs about one query per file.
    CheckedDirectories checkedDirectories{{directory.native()}, directory.native()};
    std::wstring relative, path; // reused from file to file
    std::size_t pathStart = 0;
    for (const RecordedFile& file : marker.files) {
        throwIfCanceled(token);
        if (!file.wellFormed) return notReady("marker unreadable", markerPath);
        utf8ToUtf16(std::string_view(marker.paths).substr(pathStart, file.pathEnd - pathStart), relative);
        pathStart = file.pathEnd;
        resolvePackagePathInto(path, directory.native(), relative);
        if (!hasNoLinkAbove(path, checkedDirectories)) return notReady("folder missing or a link", path);
        if (!hasLength(path, file.length)) return notReady("file missing, a link or of another size", path);
    }
    logEvent("check.ready", {{"files", marker.files.size()}});
    return true;
}

} // namespace

std::string serializeInstalledMarker(const std::string& version, const std::string& sha256,
                                     const json& files) {
    const json marker = {{"files", files}, {"sha256", sha256}, {"version", version}};
    return marker.dump(-1, ' ', false, json::error_handler_t::strict);
}

bool isInstalledClientReady(const LauncherConfig& config, CancelToken& token) {
    throwIfCanceled(token);
    try {
        const std::filesystem::path executable = gameExecutablePath(config);
        if (!isUnityClientLayout(executable))
            return notReady("no complete client at the executable", executable);
        if (!config.document.value("gameExecutable", std::string()).empty()) {
            logEvent("check.ready", {{"executable", executable}});
            return true;
        }
        return markerMatches(config, token);
    } catch (const Canceled&) {
        throw;
    } catch (const std::exception& error) {
        logEvent("check.not_ready", {{"reason", "error"}, {"what", error.what()}});
        return false;
    } catch (...) {
        return false;
    }
}

} // namespace launcher
