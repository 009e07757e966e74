#include "account/credential_store.h"

#include "account/credential_text.h"
#include "account/login_exchange.h"
#include "filesystem/directory_links.h"
#include "foundation/error.h"
#include "foundation/file_io.h"
#include "foundation/launcher_data_folder.h"
#include "foundation/secret_text.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "net/sha256_hash.h"

#include <windows.h>
#include <dpapi.h>

namespace launcher {
namespace {

constexpr std::string_view labelPrefix = "PCtalvoSDK:81:";
constexpr std::uint64_t maxCredentialFileBytes = 16384;

DATA_BLOB entropyBlob(const CredentialStore& store) {
    return {static_cast<DWORD>(store.entropy.size()), const_cast<BYTE*>(store.entropy.data())};
}

std::uint8_t hexValue(char digit) {
    return static_cast<std::uint8_t>(digit <= '9' ? digit - '0' : digit - 'A' + 10);
}

// Decrypts and parses the file; throws on anything unusable.
bool readRemembered(const CredentialStore& store, std::wstring& account, std::wstring& password) {
    if (!std::filesystem::exists(store.path)) return false;
    std::string sealed = readFileLimited(store.path, maxCredentialFileBytes);
    DATA_BLOB input{static_cast<DWORD>(sealed.size()), reinterpret_cast<BYTE*>(sealed.data())};
    DATA_BLOB entropy = entropyBlob(store);
    DATA_BLOB output{};
    if (!::CryptUnprotectData(&input, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                              &output))
        return false;
    const UniqueLocalMemory<BYTE> platformCopy{output.pbData};
    // The platform's copy is overwritten before it is freed, whatever the parse makes of it.
    const ScopeExit wipePlatformCopy([&] { wipeBytes(output.pbData, output.cbData); });

    SecretText user, secret;
    if (!parseCredentialText({reinterpret_cast<const char*>(output.pbData), output.cbData}, user, secret))
        return false;
    std::wstring loadedAccount, loadedPassword;
    const ScopeExit wipeConverted([&] {
        wipeText(loadedAccount);
        wipeText(loadedPassword);
    });
    loadedAccount = multiByteToUtf16(user.view(), codePageUtf8);
    loadedPassword = multiByteToUtf16(secret.view(), codePageUtf8);
    if (!isValidCredentialInput(loadedAccount, loadedPassword)) return false;
    // Swapped, so whatever the outputs held before is wiped with the locals.
    account.swap(loadedAccount);
    password.swap(loadedPassword);
    return true;
}

CredentialStore storeBelow(const std::filesystem::path& dataFolder, std::wstring_view loginProxyUrl) {
    const std::string label = std::string(labelPrefix) + utf16ToUtf8(loginProxyUrl);
    const std::string digest = sha256Hex(label.data(), label.size());
    CredentialStore store;
    for (std::size_t i = 0; i < store.entropy.size(); ++i)
        store.entropy[i] =
            static_cast<std::uint8_t>(hexValue(digest[2 * i]) << 4 | hexValue(digest[2 * i + 1]));
    store.path = dataFolder / L"Credentials" / (multiByteToUtf16(digest, codePageUtf8) + L".bin");
    return store;
}

} // namespace

CredentialStore openCredentialStore(std::wstring_view loginProxyUrl) {
    const std::optional<std::filesystem::path> folder = launcherDataFolder();
    if (!folder) throw Error("无法读取账户保存目录。");
    return storeBelow(*folder, loginProxyUrl);
}

CredentialStore openCredentialStoreInForTesting(const std::filesystem::path& localAppData,
                                                std::wstring_view loginProxyUrl) {
    return storeBelow(launcherDataFolderIn(localAppData), loginProxyUrl);
}

bool loadCredentials(const CredentialStore& store, std::wstring& account, std::wstring& password) noexcept {
    try {
        return readRemembered(store, account, password);
    } catch (...) {
        return false;
    }
}

void saveCredentials(const CredentialStore& store, std::wstring_view account, std::wstring_view password) {
    if (!isValidCredentialInput(account, password)) throw Error("请输入账号和密码后再勾选记住账号密码。");

    DATA_BLOB output{};
    {
        SecretText plaintext = [&] {
            const SecretText user = secretUtf8(account);
            const SecretText secret = secretUtf8(password);
            return serializeCredentialText(user.view(), secret.view());
        }();
        DATA_BLOB input{static_cast<DWORD>(plaintext.get().size()),
                        reinterpret_cast<BYTE*>(plaintext.get().data())};
        DATA_BLOB entropy = entropyBlob(store);
        if (!::CryptProtectData(&input, L"", &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &output))
            throw Error("无法加密保存账号密码。");
    }
    const UniqueLocalMemory<BYTE> platformCopy{output.pbData};
    const std::string sealed(reinterpret_cast<const char*>(output.pbData), output.cbData);

    const std::filesystem::path directory = store.path.parent_path();
    rejectDirectoryLinks(directory);
    std::filesystem::create_directories(directory);
    writeFileAtomically(store.path, sealed);
}

void forgetCredentials(const CredentialStore& store) {
    if (::DeleteFileW(store.path.c_str())) return;
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return;
    throw Error("无法删除已保存的账号密码，请检查目录权限。");
}

} // namespace launcher
