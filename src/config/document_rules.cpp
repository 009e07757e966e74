#include "config/document_rules.h"

#include "config/deployment.h"
#include "config/endpoint_rules.h"
#include "config/url_parts.h"
#include "foundation/error.h"
#include "foundation/text.h"

#include <cmath>
#include <cstdint>
#include <string>

namespace launcher {
namespace {

using nlohmann::json;

// A whole number within 32-bit signed range. A plain conversion would turn 81.7 or 2^32 + 81
// into 81, so anything else is the library's type error, as for a string. A float is the same
// number when it is whole: editors and scripts write 81 as 81.0.
int readInt32(const json& value) {
    if (!value.is_number()) return value.get<int>(); // the library's own "type must be number"
    // Every int32 is exact as a double, and a double compares with the range without rounding.
    const double number = value.is_number_unsigned()  ? static_cast<double>(value.get<std::uint64_t>())
                          : value.is_number_integer() ? static_cast<double>(value.get<std::int64_t>())
                                                      : value.get<double>();
    if (!(number >= INT32_MIN && number <= INT32_MAX && std::trunc(number) == number))
        throw json::type_error::create(302, "type must be a 32-bit integer, but is " + value.dump(), &value);
    return static_cast<int>(number);
}

void checkPlatform(const json& document) {
    // Each member is read only if the one before it matched.
    const bool matches = document.value("authenticationMode", std::string()) == requiredAuthenticationMode &&
                         document.value("sdkName", std::string()) == requiredSdkName &&
                         readPlatId(document) == requiredPlatId;
    if (!matches) throw Error("当前启动器配置不适用于 PCtalvoSDK。");
}

void checkLoginEndpoint(const json& document) {
    const std::wstring url = multiByteToUtf16(document.at("loginProxyUrl").get<std::string>(), codePageUtf8);
    const std::string method = document.value("loginRequestMethod", std::string("GET"));
    // The configured address carries no query of its own: the login request adds one.
    const bool valid = isAllowedEndpoint(url, EndpointPurpose::login) &&
                       url.find_first_of(L"?#") == std::wstring::npos &&
                       (method == "GET" || method == "POST");
    if (!valid) throw Error("登录接口配置无效。");
}

// The content store's index of this version: its size and digest vouch for its bytes, and it for
// every chunk's, so like the update channel's files it may lie anywhere under the package path.
void checkStoreIndex(const json& index) {
    const auto url = index.find("url");
    const auto size = index.find("size");
    const auto digest = index.find("sha256");
    const bool valid =
        index.is_object() && url != index.end() && url->is_string() && size != index.end() &&
        size->is_number_unsigned() && size->get<std::uint64_t>() > 0 &&
        size->get<std::uint64_t>() <= maxStoreIndexBytes && digest != index.end() && digest->is_string() &&
        isHexDigest(digest->get<std::string>()) &&
        isAllowedEndpoint(multiByteToUtf16(url->get<std::string>(), codePageUtf8), EndpointPurpose::update);
    if (!valid) throw Error("客户端分块索引配置无效。");
}

void checkPackage(const json& package) {
    const std::wstring downloadUrl =
        multiByteToUtf16(package.at("downloadUrl").get<std::string>(), codePageUtf8);
    const std::string digest = package.value("sha256", std::string());
    if (!isAllowedEndpoint(downloadUrl, EndpointPurpose::download)) throw Error("客户端下载地址无效。");

    // Only HTTPS may omit the digest: it is what protects a plain-HTTP download. The parsed scheme
    // decides, since "HTTP://" is plain HTTP too.
    const bool digestValid = digest.empty() ? crackUrl(downloadUrl).secure : isHexDigest(digest);
    if (!digestValid) throw Error("客户端安装包 SHA256 配置无效。");

    // Whole non-negative numbers only: -1, 1.5, 1e9 and "100" are all refused.
    const json& maxDownload = package.at("maxDownloadBytes");
    if (!maxDownload.is_number_unsigned()) throw Error("安装包大小限制无效。");
    const json& maxExtract = package.at("maxExtractBytes");
    if (!maxExtract.is_number_unsigned()) throw Error("安装包大小限制无效。");
    if (maxDownload.get<std::uint64_t>() == 0 || maxExtract.get<std::uint64_t>() == 0)
        throw Error("安装包大小限制无效。");
    if (const auto index = package.find("index"); index != package.end()) checkStoreIndex(*index);
}

} // namespace

int readPlatId(const json& document) {
    const auto member = document.find("platId");
    return member == document.end() ? 0 : readInt32(*member);
}

bool isHexDigest(const std::string& digest) {
    return digest.size() == 64 && digest.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

void validateConfigDocument(const json& document) {
    checkPlatform(document);
    checkLoginEndpoint(document);
    checkPackage(document.at("clientPackage"));
}

} // namespace launcher
