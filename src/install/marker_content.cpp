#include "install/marker_content.h"

#include "filesystem/path_rules.h"
#include "foundation/text.h"
#include "net/package_digest.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <optional>

namespace launcher {
namespace {

using nlohmann::json;

// Fills a MarkerContent from the parser's events. Depth counts the open objects and arrays: the
// marker object is 1, its `files` array 2, an entry 3. A member given twice counts once, with the
// later value, as in a parsed document.
class MarkerReader {
public:
    explicit MarkerReader(MarkerContent& content) : content_(content) {}

    bool null() { return value(Kind::other); }
    bool boolean(bool) { return value(Kind::other); }
    // A `length` converts as the document's typed read converts any number: by a plain cast. A
    // fraction beyond what the cast can hold has no defined value; it gets one no file can have.
    bool number_integer(json::number_integer_t number) {
        return lengthValue(static_cast<std::uint64_t>(number));
    }
    bool number_unsigned(json::number_unsigned_t number) { return lengthValue(number); }
    bool number_float(json::number_float_t number, const std::string&) {
        const bool fits = number > -1.0 && number < 18446744073709551616.0; // 2^64
        return lengthValue(fits ? static_cast<std::uint64_t>(number) : UINT64_MAX);
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

} // namespace

bool readMarkerContent(std::string_view bytes, MarkerContent& content) {
    content = {};
    if (bytes.size() > maxMarkerFileBytes) return false;
    // Grown step by step, these cost more than the parse. The marker's size bounds both: the paths
    // are shorter than their JSON text, and an entry takes at least 22 bytes.
    content.paths.reserve(bytes.size());
    content.files.reserve(bytes.size() / 22 + 1);
    MarkerReader reader(content);
    return json::sax_parse(bytes, &reader) && content.isObject && !content.version.wrongType &&
           !content.sha256.wrongType;
}

MarkerVerdict judgeMarker(const MarkerContent& marker, std::string_view version, const std::string& digest,
                          std::wstring_view directory, const RecordedFileCheck& checkFile) {
    if (marker.version.text != version) return {"version", {}};
    if (!packageDigestMatches(digest, marker.sha256.text)) return {"digest", {}};
    if (!marker.hasFilesArray || marker.files.empty()) return {"no files recorded", {}};

    std::wstring relative, path; // reused from file to file
    std::size_t pathStart = 0;
    for (const RecordedFile& file : marker.files) {
        if (!file.wellFormed) return {"marker unreadable", {}};
        utf8ToUtf16(std::string_view(marker.paths).substr(pathStart, file.pathEnd - pathStart), relative);
        pathStart = file.pathEnd;
        resolvePackagePathInto(path, directory, relative);
        if (const char* reason = checkFile(path, file.length)) return {reason, std::move(path)};
    }
    return {};
}

} // namespace launcher
