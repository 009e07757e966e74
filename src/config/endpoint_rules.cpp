#include "config/endpoint_rules.h"

#include "config/deployment.h"
#include "config/url_parts.h"
#include "foundation/text.h"

namespace launcher {
namespace {

bool isAllowedPlainHttp(const UrlParts& parts, EndpointPurpose purpose) {
    const std::wstring_view pathAndQuery = parts.pathAndQuery;
    const std::wstring_view path = pathAndQuery.substr(0, pathAndQuery.find(L'?'));
    if (purpose == EndpointPurpose::login)
        return parts.host == lanLoginHost && parts.port == lanLoginPort && path == lanLoginPath;
    return parts.host == packageHost && parts.port == packagePort && path.starts_with(packagePathPrefix) &&
           path.size() >= packageFileSuffix.size() &&
           toLowerCase(path.substr(path.size() - packageFileSuffix.size())) == packageFileSuffix;
}

} // namespace

bool isAllowedEndpoint(std::wstring_view url, EndpointPurpose purpose) noexcept {
    try {
        const UrlParts parts = crackUrl(url);
        if (!parts.userName.empty() || !parts.password.empty()) return false;
        if (url.find(L'#') != std::wstring_view::npos || hasControlCharacter(url)) return false;
        if (parts.secure) return true;
        return isAllowedPlainHttp(parts, purpose);
    } catch (...) {
        return false;
    }
}

} // namespace launcher
