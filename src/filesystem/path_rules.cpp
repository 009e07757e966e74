#include "filesystem/path_rules.h"

#include "foundation/error.h"
#include "foundation/path_normal.h"
#include "foundation/text.h"

#include <algorithm>
#include <string>

namespace launcher {
namespace {

// Made once: a view made inside the loop below measured this text again for every character.
constexpr std::wstring_view forbiddenCharacters = L"<>\"|?*";

PathRule unsafeSegmentRule(std::wstring_view segment) {
    if (segment == L"." || segment == L"..") return PathRule::dotSegment;
    // Windows drops a trailing dot or space, so "a." and "a" would name the same file.
    if (segment.back() == L'.' || segment.back() == L' ') return PathRule::trailingDotOrSpace;
    const bool forbidden = std::ranges::any_of(segment, [](wchar_t c) {
        return c < 0x20 || c == 0x7F || forbiddenCharacters.find(c) != std::wstring_view::npos;
    });
    return forbidden ? PathRule::forbiddenCharacter : PathRule::none;
}

bool isReservedDeviceName(std::wstring_view segment) {
    // "CON", "con.txt" and "Aux.tar.gz" all open the device, whatever follows the first dot, and
    // so does "con .txt": Windows drops the spaces before that dot when it matches device names.
    std::wstring_view rawStem = segment.substr(0, segment.find(L'.'));
    while (!rawStem.empty() && rawStem.back() == L' ')
        rawStem.remove_suffix(1);
    if (rawStem.size() != 3 && rawStem.size() != 4) return false; // spares the lower-casing on hot paths
    const std::wstring stem = toLowerCase(rawStem);
    if (stem == L"con" || stem == L"prn" || stem == L"aux" || stem == L"nul") return true;
    // The superscript digits one to three count as digits here, as they do for Windows.
    const wchar_t digit = stem.size() == 4 ? stem[3] : L'\0';
    const bool isDigit =
        (digit >= L'0' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' || digit == L'\u00B3';
    return isDigit && (stem.starts_with(L"com") || stem.starts_with(L"lpt"));
}

PathRule wholePathRule(std::wstring_view relative) {
    if (relative.empty()) return PathRule::emptyPath;
    if (relative.front() == L'/' || relative.front() == L'\\') return PathRule::absolutePath;
    if (relative.find(L':') != std::wstring_view::npos) return PathRule::colon;
    if (relative.find(L'\0') != std::wstring_view::npos) return PathRule::nulCharacter;
    return PathRule::none;
}

// The launcher's sentence for a broken rule.
const char* refusalSentence(PathRule rule) {
    switch (rule) {
    case PathRule::dotSegment:
    case PathRule::trailingDotOrSpace:
    case PathRule::forbiddenCharacter:
        return "安装包包含不安全的文件路径。";
    case PathRule::reservedDeviceName:
        return "安装包包含保留文件名。";
    case PathRule::installedMarker:
        return "安装包包含保留的安装标记。";
    case PathRule::tooLong:
    case PathRule::noName:
        return "安装路径过长或无效，请选择较短的安装目录。";
    default:
        return "安装包文件路径无效。";
    }
}

void throwIfBroken(const PathRuleBreach& breach) {
    if (breach.rule != PathRule::none) throw Error(refusalSentence(breach.rule));
}

// Builds the full path in `result` as text (appending to a path re-parses it for every segment)
// and reports the first rule broken.
PathRuleBreach resolveInto(std::wstring& result, std::wstring_view absoluteBase,
                           std::wstring_view relativePath) {
    if (const PathRule rule = wholePathRule(relativePath); rule != PathRule::none)
        return {.rule = rule, .part = relativePath};
    result.assign(absoluteBase);
    const bool baseEndsInSeparator = !result.empty() && result.back() == L'\\';
    std::size_t start = 0;
    while (start <= relativePath.size()) {
        std::size_t end = start; // a backslash separates like a slash
        while (end < relativePath.size() && relativePath[end] != L'/' && relativePath[end] != L'\\')
            ++end;
        const std::wstring_view segment = relativePath.substr(start, end - start);
        start = end + 1;
        if (segment.empty()) continue;
        PathRule rule = unsafeSegmentRule(segment);
        if (rule == PathRule::none && isReservedDeviceName(segment)) rule = PathRule::reservedDeviceName;
        if (rule == PathRule::none && segment.size() == installedMarkerName.size() &&
            toLowerCase(segment) == installedMarkerName)
            rule = PathRule::installedMarker;
        if (rule != PathRule::none) return {.rule = rule, .part = segment};
        if (result.size() != absoluteBase.size() || !baseEndsInSeparator) result += L'\\';
        result += segment;
    }
    const PathRule rule = result.size() > maxInstalledPathLength ? PathRule::tooLong
                          : result == absoluteBase               ? PathRule::noName
                                                                 : PathRule::none;
    return {.rule = rule, .part = relativePath, .length = result.size()};
}

// resolvePackagePath for a base that is already absolute and normalised.
std::filesystem::path resolvePackagePathUnder(const std::filesystem::path& absoluteBase,
                                              std::wstring_view relativePath) {
    std::wstring result;
    // wstring() is native() on Windows; it also keeps the rules building where paths are narrow.
    resolvePackagePathInto(result, absoluteBase.wstring(), relativePath);
    return std::filesystem::path(std::move(result));
}

} // namespace

std::filesystem::path resolvePackagePath(const std::filesystem::path& base, std::wstring_view relativePath) {
    // The whole-path rules come before the base is even looked at.
    if (const PathRule rule = wholePathRule(relativePath); rule != PathRule::none)
        throw Error(refusalSentence(rule));
    return resolvePackagePathUnder(normalizedAbsolutePath(base), relativePath);
}

void resolvePackagePathInto(std::wstring& result, std::wstring_view absoluteBase,
                            std::wstring_view relativePath) {
    throwIfBroken(resolveInto(result, absoluteBase, relativePath));
}

void resolveStagedPackagePathInto(std::wstring& result, std::wstring_view stagingBase,
                                  std::wstring_view finalBase, std::wstring_view relativePath) {
    resolvePackagePathInto(result, finalBase, relativePath);
    // Without a root's own separator, the one before the first segment is kept.
    const auto withoutSeparator = [](std::wstring_view base) {
        return base.ends_with(L'\\') ? base.substr(0, base.size() - 1) : base;
    };
    result.replace(0, withoutSeparator(finalBase).size(), withoutSeparator(stagingBase));
}

PathRuleBreach findPathRuleBreach(std::wstring_view absoluteBase, std::wstring_view relativePath) {
    std::wstring result;
    return resolveInto(result, absoluteBase, relativePath);
}

} // namespace launcher
