#include "net/sha256_extensions.h"
#include "net/sha256_hash.h"

#include <windows.h>
#include <bcrypt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace launcher {
namespace {

// The platform's provider called directly: the reference the processor's digests must match.
Sha256Digest providerDigest(const std::string& bytes) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    EXPECT_TRUE(
        BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)));
    const UniqueBcryptAlgorithm algorithmOwner{algorithm};
    BCRYPT_HASH_HANDLE hash = nullptr;
    EXPECT_TRUE(BCRYPT_SUCCESS(::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0)));
    const UniqueBcryptHash hashOwner{hash};
    auto* data = reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data()));
    EXPECT_TRUE(BCRYPT_SUCCESS(::BCryptHashData(hash, data, static_cast<ULONG>(bytes.size()), 0)));
    Sha256Digest digest{};
    EXPECT_TRUE(BCRYPT_SUCCESS(::BCryptFinishHash(hash, digest.data(), 32, 0)));
    return digest;
}

std::string hexOf(const Sha256Digest& digest) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : digest) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 0x0F]);
    }
    return text;
}

// Feeds `bytes` in pieces of random sizes, empty ones included, each at most `largest`.
template <class Hash>
Sha256Digest digestInPieces(const std::string& bytes, std::mt19937& random, std::size_t largest) {
    Hash hash;
    for (std::size_t offset = 0; offset < bytes.size();) {
        const std::size_t piece =
            std::min(bytes.size() - offset, std::uniform_int_distribution<std::size_t>(0, largest)(random));
        hash.update(bytes.data() + offset, piece);
        offset += piece;
    }
    return hash.finish();
}

class Sha256OnProcessor : public ::testing::Test {
protected:
    void SetUp() override {
        if (!processorHasSha256Extensions())
            GTEST_SKIP() << "this processor has no SHA extensions: the platform provider does the work";
    }
};

TEST_F(Sha256OnProcessor, GivesTheStandardDigests) {
    const struct {
        std::string message;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmn"
         "opqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& [message, digest] : cases) {
        Sha256Extensions hash;
        hash.update(message.data(), message.size());
        EXPECT_EQ(hexOf(hash.finish()), digest) << message.size() << " bytes";
    }
}

TEST_F(Sha256OnProcessor, AgreesWithTheProviderWhateverTheLengthAndPieces) {
    std::mt19937 random(26);
    std::vector<std::size_t> lengths;
    for (std::size_t length = 0; length <= 300; ++length)
        lengths.push_back(length);
    for (std::size_t length : {4096u, 65536u + 55, (1u << 20) + 1, 5u * (1u << 20) + 63})
        lengths.push_back(length);
    for (const std::size_t length : lengths) {
        std::string bytes(length, '\0');
        for (char& byte : bytes)
            byte = static_cast<char>(random());
        const Sha256Digest expected = providerDigest(bytes);
        const std::size_t largest = std::max<std::size_t>(130, length / 16);

        Sha256Extensions whole;
        whole.update(bytes.data(), bytes.size());
        EXPECT_EQ(hexOf(whole.finish()), hexOf(expected)) << length;
        EXPECT_EQ(hexOf(digestInPieces<Sha256Extensions>(bytes, random, largest)), hexOf(expected)) << length;
        EXPECT_EQ(hexOf(digestInPieces<Sha256Hash>(bytes, random, largest)), hexOf(expected)) << length;
    }
}

} // namespace
} // namespace launcher
