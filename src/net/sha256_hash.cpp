#include "net/sha256_hash.h"

#include "foundation/error.h"

#include <algorithm>

namespace launcher {

Sha256Hash::Sha256Hash() {
    // Asked once: the answer cannot change while the process runs.
    static const bool useExtensions = processorHasSha256Extensions();
    if (useExtensions) {
        extensions_ = std::make_unique<Sha256Extensions>();
        return;
    }
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        throw Error("无法初始化文件校验。");
    algorithm_.reset(algorithm);
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptCreateHash(algorithm_.get(), &hash, nullptr, 0, nullptr, 0, 0)))
        throw Error("无法初始化文件校验。");
    hash_.reset(hash);
}

Sha256Hash& Sha256Hash::operator=(Sha256Hash&& other) noexcept {
    extensions_ = std::move(other.extensions_);
    hash_ = std::move(other.hash_);
    algorithm_ = std::move(other.algorithm_);
    return *this;
}

void Sha256Hash::update(const void* bytes, std::size_t count) {
    if (extensions_) return extensions_->update(bytes, count);
    auto* next = static_cast<UCHAR*>(const_cast<void*>(bytes)); // BCryptHashData does not write
    while (count > 0) {
        const ULONG chunk = static_cast<ULONG>(std::min<std::size_t>(count, 1u << 30));
        if (!BCRYPT_SUCCESS(::BCryptHashData(hash_.get(), next, chunk, 0))) throw Error("文件校验失败。");
        next += chunk;
        count -= chunk;
    }
}

Sha256Digest Sha256Hash::finish() {
    if (extensions_) return extensions_->finish();
    Sha256Digest digest{};
    if (!BCRYPT_SUCCESS(::BCryptFinishHash(hash_.get(), digest.data(), static_cast<ULONG>(digest.size()), 0)))
        throw Error("文件校验失败。");
    return digest;
}

std::string Sha256Hash::finishHex() {
    static constexpr char digits[] = "0123456789ABCDEF";
    const Sha256Digest digest = finish();
    std::string text;
    text.reserve(64);
    for (const UCHAR byte : digest) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 0x0F]);
    }
    return text;
}

std::string sha256Hex(const void* bytes, std::size_t count) {
    Sha256Hash hash;
    hash.update(bytes, count);
    return hash.finishHex();
}

Sha256Digest sha256Digest(const void* bytes, std::size_t count) {
    Sha256Hash hash;
    hash.update(bytes, count);
    return hash.finish();
}

} // namespace launcher
