#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace launcher {

// The remembered account and password for one login address, encrypted for the current Windows
// user in the local application-data folder. Used from the window thread only.
struct CredentialStore {
    std::filesystem::path path;
    std::array<std::uint8_t, 32> entropy{};
};

// Derives the file and entropy from the login address; touches no file. Throws
// Error("无法读取账户保存目录。") or the digest's errors.
CredentialStore openCredentialStore(std::wstring_view loginProxyUrl);

// Same below another local application-data folder than the current user's.
CredentialStore openCredentialStoreInForTesting(const std::filesystem::path& localAppData,
                                                std::wstring_view loginProxyUrl);

// Fills `account` and `password` and returns true if a usable pair is remembered; otherwise
// returns false and leaves them untouched. Never throws; never touches the file.
bool loadCredentials(const CredentialStore& store, std::wstring& account, std::wstring& password) noexcept;

// Remembers the pair, replacing any earlier one atomically. Throws Error with the player's
// sentence, or the platform's filesystem_error when the folder cannot be created.
void saveCredentials(const CredentialStore& store, std::wstring_view account, std::wstring_view password);

// Deletes the remembered pair; a missing file is success. Throws
// Error("无法删除已保存的账号密码，请检查目录权限。").
void forgetCredentials(const CredentialStore& store);

} // namespace launcher
