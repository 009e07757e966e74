#include "update/update_manifest.h"

#include "config/config_validation.h"
#include "config/endpoint_rules.h"
#include "foundation/error.h"
#include "foundation/text.h"

#include <charconv>
#include <cstdio>

namespace launcher {
namespace {

using nlohmann::json;

[[noreturn]] void throwInvalid() {
    throw Error("更新清单无效。");
}

const std::string& stringMember(const json& object, const char* name) {
    const auto member = object.find(name);
    if (member == object.end() || !member->is_string()) throwInvalid();
    return member->get_ref<const std::string&>();
}

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar.
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

// Each part of a dotted version, or nothing when the text is not one.
std::optional<std::vector<std::uint64_t>> versionParts(std::string_view text) {
    std::vector<std::uint64_t> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = std::min(text.find('.', start), text.size());
        std::uint64_t value = 0;
        const char* first = text.data() + start;
        const char* last = text.data() + end;
        const auto [stop, error] = std::from_chars(first, last, value);
        if (first == last || stop != last || error != std::errc()) return std::nullopt;
        parts.push_back(value);
        if (end == text.size()) return parts;
        start = end + 1;
    }
}

} // namespace

UpdateManifest parseUpdateManifest(std::string_view bytes) {
    if (bytes.size() > maxUpdateManifestBytes) throwInvalid();
    const json document = json::parse(bytes, nullptr, false);
    if (!document.is_object()) throwInvalid();
    UpdateManifest manifest;
    const auto sequence = document.find("sequence");
    if (sequence == document.end() || !sequence->is_number_unsigned()) throwInvalid();
    manifest.sequence = sequence->get<std::uint64_t>();
    manifest.expires = parseUtcTime(stringMember(document, "expires"));
    const auto package = document.find("clientPackage");
    if (package == document.end() || !package->is_object()) throwInvalid();
    manifest.clientPackage = *package;
    if (const auto launcher = document.find("launcher"); launcher != document.end()) {
        if (!launcher->is_object()) throwInvalid();
        LauncherRelease release{.version = stringMember(*launcher, "version"),
                                .downloadUrl = stringMember(*launcher, "downloadUrl"),
                                .sha256 = stringMember(*launcher, "sha256")};
        const bool valid =
            versionParts(release.version).has_value() && isHexDigest(release.sha256) &&
            isAllowedEndpoint(multiByteToUtf16(release.downloadUrl, codePageUtf8), EndpointPurpose::update);
        if (!valid) throwInvalid();
        manifest.launcher = std::move(release);
    }
    return manifest;
}

std::string serializeUpdateManifest(const UpdateManifest& manifest) {
    json document = {{"sequence", manifest.sequence},
                     {"expires", formatUtcTime(manifest.expires)},
                     {"clientPackage", manifest.clientPackage}};
    if (manifest.launcher)
        document["launcher"] = {{"version", manifest.launcher->version},
                                {"downloadUrl", manifest.launcher->downloadUrl},
                                {"sha256", manifest.launcher->sha256}};
    return document.dump(2, ' ', false, json::error_handler_t::strict) + "\n";
}

std::string renumberUpdateManifest(std::string_view document, std::uint64_t sequence, std::int64_t expires) {
    parseUpdateManifest(document);
    json renumbered = json::parse(document);
    renumbered["sequence"] = sequence;
    renumbered["expires"] = formatUtcTime(expires);
    return renumbered.dump(2, ' ', false, json::error_handler_t::strict) + "\n";
}

LauncherConfig configWithClientPackage(const LauncherConfig& config, const nlohmann::json& clientPackage) {
    if (!clientPackage.is_object()) throwInvalid();
    // Without a digest nothing vouches for the package but the connection; a signed manifest
    // always pins the bytes.
    const auto digest = clientPackage.find("sha256");
    if (digest == clientPackage.end() || !digest->is_string() ||
        digest->get_ref<const std::string&>().empty())
        throwInvalid();
    LauncherConfig result = config;
    json& package = result.document["clientPackage"];
    // Where the client goes and how large it may be are the site's own settings: a manifest names
    // the package only, and anything else it carries is ignored.
    for (const char* name : manifestPackageMembers)
        if (const auto member = clientPackage.find(name); member != clientPackage.end())
            package[name] = *member;
    // A store belongs to the package it was made from: one the configuration names does not
    // outlive a manifest that names another package without one.
    if (!clientPackage.contains("index")) package.erase("index");
    try {
        validateLauncherConfig(result);
    } catch (const Error&) {
        throw;
    } catch (const std::exception&) {
        throwInvalid(); // a member of the wrong JSON type
    }
    return result;
}

std::int64_t parseUtcTime(std::string_view text) {
    // "YYYY-MM-DDTHH:MM:SSZ": the digits at these places, these separators between them.
    constexpr std::string_view shape = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != shape.size()) throwInvalid();
    for (std::size_t index = 0; index < shape.size(); ++index) {
        const bool digit = text[index] >= '0' && text[index] <= '9';
        if (shape[index] == 'd' ? !digit : text[index] != shape[index]) throwInvalid();
    }
    const auto number = [&](std::size_t at, std::size_t length) {
        unsigned value = 0;
        std::from_chars(text.data() + at, text.data() + at + length, value);
        return value;
    };
    const unsigned year = number(0, 4), month = number(5, 2), day = number(8, 2);
    const unsigned hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    constexpr unsigned monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || day > monthDays[month - 1] + (month == 2 && leap) ||
        hour > 23 || minute > 59 || second > 59)
        throwInvalid();
    return daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

std::string formatUtcTime(std::int64_t seconds) {
    // The inverse of daysFromCivil.
    const std::int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
    const std::int64_t inDay = seconds - days * 86400;
    const std::int64_t shifted = days + 719468;
    const std::int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(shifted - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const unsigned month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const std::int64_t year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2);
    char text[32];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02u:%02u:%02uZ", static_cast<long long>(year), month,
                  day, static_cast<unsigned>(inDay / 3600), static_cast<unsigned>(inDay / 60 % 60),
                  static_cast<unsigned>(inDay % 60));
    return text;
}

int compareVersions(std::string_view left, std::string_view right) {
    const auto a = versionParts(left);
    const auto b = versionParts(right);
    if (!a || !b) return a ? 1 : b ? -1 : 0;
    for (std::size_t index = 0; index < std::max(a->size(), b->size()); ++index) {
        const std::uint64_t x = index < a->size() ? (*a)[index] : 0;
        const std::uint64_t y = index < b->size() ? (*b)[index] : 0;
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

} // namespace launcher
