#pragma once

// The signed manifest as one file: the signature's hexadecimal digits on the first line, then the
// manifest's exact bytes. The update server serves it, the publisher's tool writes it and the
// launcher keeps the last one it accepted in it. Both halves travel and are replaced together, so
// no cache and no torn save can pair the signature of one version with the manifest of another.
//
//   3f9a...(128 hexadecimal digits)\n
//   {
//     "clientPackage": {...},
//     ...
//   }
#include "update/update_manifest.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace launcher {

inline constexpr std::size_t updateSignatureDigits = 128; // r‖s of ECDSA P-256
inline constexpr std::size_t maxManifestEnvelopeBytes = updateSignatureDigits + 1 + maxUpdateManifestBytes;

struct SignedManifest {
    std::string bytes;     // the manifest exactly as signed
    std::string signature; // updateSignatureDigits hexadecimal digits
};

// The envelope of `signedManifest`. White space around the signature is dropped. Throws Error when
// the signature is not updateSignatureDigits hexadecimal digits, or the manifest is empty or larger
// than maxUpdateManifestBytes. Does not verify the signature.
std::string makeManifestEnvelope(const SignedManifest& signedManifest);

// The halves of an envelope. Throws Error naming the damage: a first line that is not exactly
// updateSignatureDigits hexadecimal digits ended by "\n", nothing after it, or a manifest larger than
// maxUpdateManifestBytes. Does not verify the signature.
SignedManifest splitManifestEnvelope(std::string_view envelope);

// Whether a served body is a bare manifest of the two-file form (the signature at "<address>.sig"):
// its first byte other than white space is '{', which never begins an envelope.
bool isBareManifest(std::string_view body) noexcept;

// Where a bare manifest's signature lies: the manifest's address with ".sig" after the path, before
// any query.
std::wstring signatureAddressBeside(std::wstring_view manifestUrl);

// Whether the signature verifies with `publicKeyHex` over the manifest's exact bytes. Never throws.
bool isSignedBy(const SignedManifest& signedManifest, std::string_view publicKeyHex) noexcept;

} // namespace launcher
