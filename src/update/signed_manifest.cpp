#include "update/signed_manifest.h"

#include "foundation/error.h"
#include "update/update_signature.h"

#include <algorithm>

namespace launcher {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isSignatureText(std::string_view text) {
    return text.size() == updateSignatureDigits && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
           });
}

void checkManifestSize(std::string_view manifest) {
    if (manifest.empty()) throw Error("签名清单已损坏：签名之后没有更新清单。");
    if (manifest.size() > maxUpdateManifestBytes)
        throw Error("签名清单已损坏：更新清单超过 " + std::to_string(maxUpdateManifestBytes) + " 字节。");
}

} // namespace

std::string makeManifestEnvelope(const SignedManifest& signedManifest) {
    std::string_view signature = signedManifest.signature;
    while (!signature.empty() && isBlank(signature.front()))
        signature.remove_prefix(1);
    while (!signature.empty() && isBlank(signature.back()))
        signature.remove_suffix(1);
    if (!isSignatureText(signature)) throw Error("更新清单的签名不是 128 位十六进制数字。");
    checkManifestSize(signedManifest.bytes);
    return std::string(signature) + "\n" + signedManifest.bytes;
}

SignedManifest splitManifestEnvelope(std::string_view envelope) {
    const std::size_t lineEnd = envelope.find('\n');
    if (lineEnd == std::string_view::npos || !isSignatureText(envelope.substr(0, lineEnd)))
        throw Error("签名清单已损坏：第一行不是 128 位十六进制签名。");
    const std::string_view manifest = envelope.substr(lineEnd + 1);
    checkManifestSize(manifest);
    return SignedManifest{std::string(manifest), std::string(envelope.substr(0, lineEnd))};
}

bool isBareManifest(std::string_view body) noexcept {
    const auto first = std::find_if_not(body.begin(), body.end(), isBlank);
    return first != body.end() && *first == '{';
}

std::wstring signatureAddressBeside(std::wstring_view manifestUrl) {
    const std::size_t query = std::min(manifestUrl.find(L'?'), manifestUrl.size());
    return std::wstring(manifestUrl.substr(0, query)) + L".sig" + std::wstring(manifestUrl.substr(query));
}

bool isSignedBy(const SignedManifest& signedManifest, std::string_view publicKeyHex) noexcept {
    return isValidUpdateSignature(publicKeyHex, signedManifest.bytes, signedManifest.signature);
}

} // namespace launcher
