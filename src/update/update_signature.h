#pragma once

// Signatures of the update manifest: ECDSA on the P-256 curve over SHA-256, computed by the
// platform's cryptography provider. Keys and signatures travel as hexadecimal text (either case
// read, lower case written): a public key is X‖Y (128 digits), a private key d (64 digits), a
// signature r‖s (128 digits).
#include <string>
#include <string_view>

namespace launcher {

// Whether `signatureText` (surrounding white space allowed) is a valid signature of `message` by
// `publicKeyHex`. Never throws: anything malformed is false.
bool isValidUpdateSignature(std::string_view publicKeyHex, std::string_view message,
                            std::string_view signatureText) noexcept;

struct UpdateSigningKey {
    std::string publicKeyHex;
    std::string privateKeyHex;
};

// A new key pair from the platform's random source. Throws Error("无法生成更新签名密钥。").
UpdateSigningKey generateUpdateSigningKey();

// The signature of `message`, 128 lower-case hexadecimal digits. Throws Error("更新签名密钥无效。")
// for key text that is malformed or whose halves do not belong together, Error("无法签名更新清单。")
// when the provider fails.
std::string signUpdateMessage(const UpdateSigningKey& key, std::string_view message);

} // namespace launcher
