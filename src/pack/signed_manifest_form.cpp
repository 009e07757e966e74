#include "pack/signed_manifest_form.h"

#include <algorithm>

namespace launcher {

std::optional<SignedManifestParts> splitSignedManifest(std::string_view body) {
    // A signature is 128 digits; anything up to this length is judged by the signature check.
    constexpr std::size_t longestSignatureLine = 1024;
    const std::size_t lineEnd = body.find('\n');
    if (lineEnd == std::string_view::npos || lineEnd > longestSignatureLine) return std::nullopt;
    std::string_view line = body.substr(0, lineEnd);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.empty() || line.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos)
        return std::nullopt;
    return SignedManifestParts{std::string(body.substr(lineEnd + 1)), std::string(line)};
}

std::wstring signatureUrlBeside(std::wstring_view manifestUrl) {
    const std::size_t query = std::min(manifestUrl.find(L'?'), manifestUrl.size());
    return std::wstring(manifestUrl.substr(0, query)) + L".sig" + std::wstring(manifestUrl.substr(query));
}

} // namespace launcher
