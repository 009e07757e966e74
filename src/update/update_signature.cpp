#include "update/update_signature.h"

#include "foundation/error.h"
#include "foundation/secret_text.h"
#include "foundation/unique_handle.h"
#include "net/sha256_hash.h"

#include <cstring>
#include <optional>
#include <vector>

namespace launcher {
namespace {

constexpr std::size_t coordinateBytes = 32; // P-256
constexpr std::size_t signatureBytes = 2 * coordinateBytes;

// Private key material is wiped when its buffer is freed.
using KeyBytes = std::vector<UCHAR, WipingAllocator<UCHAR>>;

int hexValue(char digit) {
    if (digit >= '0' && digit <= '9') return digit - '0';
    if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
    if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
    return -1;
}

// Exactly `count` bytes written as 2 × `count` hexadecimal digits, or nothing.
std::optional<KeyBytes> hexBytes(std::string_view text, std::size_t count) {
    if (text.size() != 2 * count) return std::nullopt;
    KeyBytes bytes(count);
    for (std::size_t index = 0; index < count; ++index) {
        const int high = hexValue(text[2 * index]), low = hexValue(text[2 * index + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes[index] = static_cast<UCHAR>(high << 4 | low);
    }
    return bytes;
}

std::string hexText(const UCHAR* bytes, std::size_t count) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * count);
    for (std::size_t index = 0; index < count; ++index) {
        text.push_back(digits[bytes[index] >> 4]);
        text.push_back(digits[bytes[index] & 0x0F]);
    }
    return text;
}

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

UniqueBcryptAlgorithm openEcdsaP256(const char* failure) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)))
        throw Error(failure);
    return UniqueBcryptAlgorithm(algorithm);
}

// A key blob: the header, then the coordinates (and for a private key, d) as given.
KeyBytes keyBlob(ULONG magic, const KeyBytes& publicKey, const KeyBytes* privateKey) {
    KeyBytes blob(sizeof(BCRYPT_ECCKEY_BLOB));
    const BCRYPT_ECCKEY_BLOB header{.dwMagic = magic, .cbKey = coordinateBytes};
    std::memcpy(blob.data(), &header, sizeof header);
    blob.insert(blob.end(), publicKey.begin(), publicKey.end());
    if (privateKey != nullptr) blob.insert(blob.end(), privateKey->begin(), privateKey->end());
    return blob;
}

// The key in `blob`, or an empty owner when the provider refuses it.
UniqueBcryptKey importKey(const UniqueBcryptAlgorithm& algorithm, const wchar_t* blobType, KeyBytes& blob) {
    BCRYPT_KEY_HANDLE key = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptImportKeyPair(algorithm.get(), nullptr, blobType, &key, blob.data(),
                                              static_cast<ULONG>(blob.size()), 0)))
        return UniqueBcryptKey();
    return UniqueBcryptKey(key);
}

} // namespace

bool isValidUpdateSignature(std::string_view publicKeyHex, std::string_view message,
                            std::string_view signatureText) noexcept {
    try {
        const std::optional<KeyBytes> publicKey = hexBytes(publicKeyHex, 2 * coordinateBytes);
        std::optional<KeyBytes> signature = hexBytes(trimmed(signatureText), signatureBytes);
        if (!publicKey || !signature) return false;
        const UniqueBcryptAlgorithm algorithm = openEcdsaP256("");
        KeyBytes blob = keyBlob(BCRYPT_ECDSA_PUBLIC_P256_MAGIC, *publicKey, nullptr);
        const UniqueBcryptKey key = importKey(algorithm, BCRYPT_ECCPUBLIC_BLOB, blob);
        if (!key) return false;
        Sha256Digest digest = sha256Digest(message.data(), message.size());
        return BCRYPT_SUCCESS(::BCryptVerifySignature(key.get(), nullptr, digest.data(),
                                                      static_cast<ULONG>(digest.size()), signature->data(),
                                                      static_cast<ULONG>(signature->size()), 0));
    } catch (...) {
        return false;
    }
}

UpdateSigningKey generateUpdateSigningKey() {
    static constexpr char failure[] = "无法生成更新签名密钥。";
    const UniqueBcryptAlgorithm algorithm = openEcdsaP256(failure);
    BCRYPT_KEY_HANDLE generated = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptGenerateKeyPair(algorithm.get(), &generated, 8 * coordinateBytes, 0)))
        throw Error(failure);
    const UniqueBcryptKey key(generated);
    if (!BCRYPT_SUCCESS(::BCryptFinalizeKeyPair(key.get(), 0))) throw Error(failure);

    KeyBytes blob(sizeof(BCRYPT_ECCKEY_BLOB) + 3 * coordinateBytes);
    ULONG size = 0;
    if (!BCRYPT_SUCCESS(::BCryptExportKey(key.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, blob.data(),
                                          static_cast<ULONG>(blob.size()), &size, 0)) ||
        size != blob.size())
        throw Error(failure);
    BCRYPT_ECCKEY_BLOB header{};
    std::memcpy(&header, blob.data(), sizeof header);
    if (header.dwMagic != BCRYPT_ECDSA_PRIVATE_P256_MAGIC || header.cbKey != coordinateBytes)
        throw Error(failure);
    const UCHAR* coordinates = blob.data() + sizeof header;
    return UpdateSigningKey{.publicKeyHex = hexText(coordinates, 2 * coordinateBytes),
                            .privateKeyHex = hexText(coordinates + 2 * coordinateBytes, coordinateBytes)};
}

std::string signUpdateMessage(const UpdateSigningKey& key, std::string_view message) {
    static constexpr char invalidKey[] = "更新签名密钥无效。";
    static constexpr char failure[] = "无法签名更新清单。";
    const std::optional<KeyBytes> publicKey = hexBytes(key.publicKeyHex, 2 * coordinateBytes);
    const std::optional<KeyBytes> privateKey = hexBytes(key.privateKeyHex, coordinateBytes);
    if (!publicKey || !privateKey) throw Error(invalidKey);
    const UniqueBcryptAlgorithm algorithm = openEcdsaP256(failure);
    KeyBytes blob = keyBlob(BCRYPT_ECDSA_PRIVATE_P256_MAGIC, *publicKey, &*privateKey);
    const UniqueBcryptKey signingKey = importKey(algorithm, BCRYPT_ECCPRIVATE_BLOB, blob);
    if (!signingKey) throw Error(invalidKey);

    Sha256Digest digest = sha256Digest(message.data(), message.size());
    UCHAR signature[signatureBytes] = {};
    ULONG size = 0;
    if (!BCRYPT_SUCCESS(::BCryptSignHash(signingKey.get(), nullptr, digest.data(),
                                         static_cast<ULONG>(digest.size()), signature, sizeof signature,
                                         &size, 0)) ||
        size != sizeof signature)
        throw Error(failure);
    std::string text = hexText(signature, sizeof signature);
    // The provider need not check that d belongs to X‖Y (Wine does not); a key file whose halves
    // were mixed up would sign manifests that no launcher accepts, so that is caught here.
    if (!isValidUpdateSignature(key.publicKeyHex, message, text)) throw Error(invalidKey);
    return text;
}

} // namespace launcher
