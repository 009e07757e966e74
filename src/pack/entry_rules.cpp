#include "pack/entry_rules.h"

#include "foundation/text.h"
#include "install/package_extraction.h"

#include <cstdio>

namespace launcher {
namespace {

std::string quoted(std::wstring_view text) {
    std::string result(1, '"');
    result += shownText(text);
    result += '"';
    return result;
}

// The first character of `segment` the path rules forbid, as U+XXXX with the segment.
std::string forbiddenCharacterIn(std::wstring_view segment) {
    for (const wchar_t c : segment) {
        if (c < 0x20 || c == 0x7F || std::wstring_view(L"<>\"|?*").find(c) != std::wstring_view::npos) {
            char code[16];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
            return quoted(segment) + " holds " + code;
        }
    }
    return quoted(segment);
}

struct RuleText {
    const char* rule;
    const char* sentence;
    const char* expected;
};

RuleText ruleText(PathRule rule) {
    switch (rule) {
    case PathRule::emptyPath:
    case PathRule::noName:
        return {"entry-path-empty", "安装包条目没有名称。", "a path with at least one name in it"};
    case PathRule::absolutePath:
        return {"entry-path-absolute", "安装包条目的路径是绝对路径。",
                "a path relative to the install folder, not starting with / or \\"};
    case PathRule::colon:
        return {"entry-path-colon", "安装包条目的路径含有冒号，它表示驱动器或 NTFS 数据流。",
                "no ':' (it names a drive or an NTFS alternate data stream)"};
    case PathRule::nulCharacter:
        return {"entry-path-nul", "安装包条目的路径含有 NUL 字符。", "no NUL character"};
    case PathRule::dotSegment:
        return {"entry-path-dot-segment", "安装包条目的路径含有 . 或 .. 段。", "no \".\" or \"..\" segment"};
    case PathRule::trailingDotOrSpace:
        return {"entry-path-trailing-dot-or-space", "安装包条目的名称以点或空格结尾，Windows 会去掉它们。",
                "names that do not end in a dot or a space (Windows drops them, so two names would "
                "open one file)"};
    case PathRule::forbiddenCharacter:
        return {"entry-path-forbidden-character", "安装包条目的名称含有 Windows 不允许的字符。",
                "no control character and none of < > \" | ? *"};
    case PathRule::reservedDeviceName:
        return {"entry-path-device-name", "安装包条目的名称是 Windows 的设备名。",
                "no device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9), with or without an extension"};
    case PathRule::installedMarker:
        return {"entry-path-installed-marker", "安装包条目与启动器的安装标记同名。",
                "no entry named .launcher-installed.json (the launcher's own marker)"};
    case PathRule::tooLong:
    case PathRule::none:
        break;
    }
    return {"entry-path-too-long", "安装包条目在玩家的安装目录下的完整路径过长。", ""};
}

const char* layoutEntryText(LayoutEntry entry) {
    switch (entry) {
    case LayoutEntry::missing:
        return "missing";
    case LayoutEntry::file:
        return "a file";
    case LayoutEntry::emptyDirectory:
        return "an empty folder";
    case LayoutEntry::directory:
        return "a folder";
    }
    return "missing";
}

// `path` relative to `folder`, with forward slashes, as the operator names entries.
std::string entryBelow(const std::wstring& folder, const std::wstring& path) {
    std::wstring relative = path;
    if (relative.size() > folder.size() && relative.starts_with(folder) && relative[folder.size()] == L'\\')
        relative.erase(0, folder.size() + 1);
    for (wchar_t& c : relative)
        if (c == L'\\') c = L'/';
    return shownText(relative);
}

} // namespace

void checkEntryCount(std::uint64_t entries, RefusalSubject kind, const std::string& subject) {
    try {
        checkPackageEntryCount(entries);
    } catch (const Error&) {
        throw ToolRefusal("安装包条目过多。", {.rule = "entry-count",
                                               .kind = kind,
                                               .subject = subject,
                                               .expected = "at most " + std::to_string(maxPackageEntries) +
                                                           " entries (files and folders)",
                                               .actual = std::to_string(entries) + " entries"});
    }
}

void checkEntryBytes(const std::vector<std::uint64_t>& sizes, std::uint64_t maxExtractBytes,
                     RefusalSubject kind, const std::string& subject) {
    std::uint64_t total = 0;
    try {
        for (const std::uint64_t size : sizes)
            addPackageEntrySize(total, size, maxExtractBytes);
    } catch (const Error&) {
        std::uint64_t all = 0; // as far as it can be counted: a hostile archive may declare anything
        for (const std::uint64_t size : sizes)
            all = size > UINT64_MAX - all ? UINT64_MAX : all + size;
        throw ToolRefusal("客户端解压后的总大小超过 maxExtractBytes。",
                          {.rule = "max-extract-bytes",
                           .kind = kind,
                           .subject = subject,
                           .expected = "at most " + byteCount(maxExtractBytes) +
                                       " unpacked (clientPackage.maxExtractBytes)",
                           .actual = byteCount(all) + " unpacked"});
    }
}

ToolRefusal pathRuleRefusal(const PathRuleBreach& breach, const std::string& shown,
                            std::wstring_view installFolder) {
    const RuleText text = ruleText(breach.rule);
    RefusalDetails details{.rule = text.rule,
                           .kind = RefusalSubject::entry,
                           .subject = shown,
                           .expected = text.expected,
                           .actual = {}};
    switch (breach.rule) {
    case PathRule::tooLong:
        details.expected = "at most " + std::to_string(maxInstalledPathLength) + " UTF-16 units, under " +
                           shownText(installFolder) + " (" + std::to_string(installFolder.size()) + " units)";
        details.actual = std::to_string(breach.length) + " UTF-16 units";
        break;
    case PathRule::forbiddenCharacter:
        details.actual = forbiddenCharacterIn(breach.part);
        break;
    case PathRule::emptyPath:
    case PathRule::noName:
    case PathRule::nulCharacter:
        details.actual = "\"" + shown + "\"";
        break;
    default:
        details.actual = quoted(breach.part);
        break;
    }
    return ToolRefusal(text.sentence, std::move(details));
}

void checkEntryNames(std::size_t count, const std::function<EntryName(std::size_t index)>& nameAt,
                     const std::wstring& installFolder) {
    PackageEntryPaths paths(installFolder, installFolder);
    for (std::size_t index = 0; index < count; ++index) {
        const EntryName entry = nameAt(index);
        const PathRuleBreach breach = findPathRuleBreach(installFolder, entry.name);
        if (breach.rule != PathRule::none) throw pathRuleRefusal(breach, entry.shown, installFolder);
        try {
            paths.accept(entry.name);
            continue;
        } catch (const Error&) {
            // The path rules passed, so the install refuses it for a target already taken.
        }
        std::wstring target, earlierTarget;
        resolvePackagePathInto(target, installFolder, entry.name);
        std::string earlier = "an earlier entry";
        for (std::size_t before = 0; before < index; ++before) {
            const EntryName other = nameAt(before);
            resolvePackagePathInto(earlierTarget, installFolder, other.name);
            if (toLowerCase(earlierTarget) != toLowerCase(target)) continue;
            earlier = other.shown;
            break;
        }
        throw ToolRefusal("安装包中有两个条目的路径仅大小写不同，Windows 会把它们当作同一个文件。",
                          {.rule = "entry-path-case-clash",
                           .kind = RefusalSubject::entry,
                           .subject = entry.shown,
                           .expected = "a path no other entry has, ignoring letter case",
                           .actual = "the same path as " + earlier});
    }
}

void InstalledLayout::addParents(const std::wstring& path) {
    for (std::size_t end = path.rfind(L'\\'); end != std::wstring::npos && end > base_.size();
         end = path.rfind(L'\\', end - 1))
        entries_[toLowerCase(path.substr(0, end))] = LayoutEntry::directory;
}

void InstalledLayout::addFile(const std::wstring& path) {
    entries_[toLowerCase(path)] = LayoutEntry::file;
    addParents(path);
}

void InstalledLayout::addFolder(const std::wstring& path) {
    entries_.try_emplace(toLowerCase(path), LayoutEntry::emptyDirectory);
    addParents(path);
}

LayoutEntry InstalledLayout::operator()(const std::wstring& path) const {
    const auto found = entries_.find(toLowerCase(path));
    return found == entries_.end() ? LayoutEntry::missing : found->second;
}

void requireUnityLayout(const std::wstring& folder, const std::filesystem::path& executable,
                        const std::function<LayoutEntry(const std::wstring& path)>& entryAt) {
    const std::optional<UnityLayoutGap> gap = findUnityLayoutGap(executable, entryAt);
    if (!gap) return;
    const std::string exe = entryBelow(folder, executable.native());
    RefusalDetails details{.rule = "client-layout",
                           .kind = RefusalSubject::entry,
                           .subject = entryBelow(folder, gap->path),
                           .expected = {},
                           .actual = layoutEntryText(gap->found)};
    switch (gap->part) {
    case UnityLayoutPart::executableName:
        details.rule = "executable-not-exe";
        details.expected = "a path ending in .exe";
        details.actual = exe;
        throw ToolRefusal("--executable 指定的不是 .exe 文件。", std::move(details));
    case UnityLayoutPart::executable:
        details.rule = "executable-not-in-package";
        details.expected = "a file";
        throw ToolRefusal("--executable 指定的文件不在客户端中。", std::move(details));
    case UnityLayoutPart::dataFolder:
        details.subject += "/";
        details.expected = "a folder with files in it, beside " + exe;
        throw ToolRefusal("客户端缺少 Unity 的 _Data 文件夹。", std::move(details));
    case UnityLayoutPart::unityPlayer:
        break;
    }
    details.expected = "a file beside " + exe;
    throw ToolRefusal("客户端缺少 UnityPlayer.dll。", std::move(details));
}

} // namespace launcher
