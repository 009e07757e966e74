#pragma once

// How a hosted manifest carries its signature: as one signed file (the signature's hexadecimal
// digits on the first line, then the manifest's exact bytes), so that no cache can pair the halves
// of two versions; or, as publish has written it so far, as the manifest with "<address>.sig" beside it.
#include <optional>
#include <string>
#include <string_view>

namespace launcher {

struct SignedManifestParts {
    std::string bytes;     // the manifest exactly as signed
    std::string signature; // hexadecimal digits
};

// The two halves of a signed file, or nothing when `body` is not one (a bare manifest starts with
// its JSON). Pure.
std::optional<SignedManifestParts> splitSignedManifest(std::string_view body);

// Where the signature of a bare manifest at `manifestUrl` lies: ".sig" after the path, before any
// query. Pure.
std::wstring signatureUrlBeside(std::wstring_view manifestUrl);

} // namespace launcher
