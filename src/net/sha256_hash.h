#pragma once

#include "foundation/unique_handle.h"
#include "net/sha256_extensions.h"

#include <array>
#include <cstddef>
#include <memory>
#include <string>

namespace launcher {

using Sha256Digest = std::array<unsigned char, 32>;

// Incremental SHA-256: on the processor's SHA extensions when it has them, else on the platform's
// cryptography provider. One object computes one digest; use it from one thread at a time.
class Sha256Hash {
public:
    // Throws Error("无法初始化文件校验。") if the provider or hash object cannot be created.
    Sha256Hash();
    Sha256Hash(Sha256Hash&&) noexcept = default;
    // Not defaulted: members are assigned in declaration order, which would close the old provider
    // while its hash object is still open.
    Sha256Hash& operator=(Sha256Hash&& other) noexcept;

    // Feeds `count` bytes; 0 is allowed. Throws Error("文件校验失败。").
    void update(const void* bytes, std::size_t count);

    // The digest as 64 upper-case hexadecimal digits. Throws Error("文件校验失败。").
    std::string finishHex();

    // The digest's 32 bytes, as signatures are computed over. Throws Error("文件校验失败。").
    Sha256Digest finish();

private:
    std::unique_ptr<Sha256Extensions> extensions_; // empty when the provider below does the work
    UniqueBcryptAlgorithm algorithm_;              // declared first: the hash object is destroyed before it
    UniqueBcryptHash hash_;
};

// The digest text of `bytes` in one call.
std::string sha256Hex(const void* bytes, std::size_t count);
Sha256Digest sha256Digest(const void* bytes, std::size_t count);

} // namespace launcher
