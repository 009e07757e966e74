#include "account/credential_store.h"
#include "foundation/unique_handle.h"
#include "foundation/unique_name.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <dpapi.h>

#include <cstdlib>

namespace launcher {
namespace {

using testing::failureOf;
using testing::readBytes;
using testing::TempDir;
using testing::writeBytes;
namespace fs = std::filesystem;

// Each test remembers accounts for its own login address, so the stores of different tests
// (and of earlier runs) never meet in the shared application-data folder.
class Credentials : public ::testing::Test {
protected:
    std::wstring url = L"https://login.example.com/" + testing::wide(newUniqueHexName());
    CredentialStore store = openCredentialStore(url);

    void TearDown() override { forgetCredentials(store); }

    bool load(std::wstring& account, std::wstring& password) {
        return loadCredentials(store, account, password);
    }
};

TEST_F(Credentials, StoreLivesInTheUsersApplicationDataUnderTheAddressDigest) {
    const std::wstring name = store.path.filename().native();
    EXPECT_EQ(name.size(), 68u);
    EXPECT_TRUE(name.ends_with(L".bin"));
    EXPECT_EQ(store.path.parent_path().filename(), L"Credentials");
    EXPECT_EQ(store.path.parent_path().parent_path().filename(), L"K3Gatehouse");
    EXPECT_FALSE(fs::exists(store.path)) << "opening touches no file";
}

TEST_F(Credentials, SavedPairLoadsBackExactly) {
    saveCredentials(store, L"  玩家 one ", L"   ");
    std::wstring account, password;
    ASSERT_TRUE(load(account, password));
    EXPECT_EQ(account, L"  玩家 one ");
    EXPECT_EQ(password, L"   ");

    const std::string sealed = readBytes(store.path);
    EXPECT_EQ(sealed.find("one"), std::string::npos) << "the file holds no plaintext";

    CredentialStore sameAddress = openCredentialStore(url);
    EXPECT_EQ(sameAddress.path, store.path);
    std::wstring again, secret;
    EXPECT_TRUE(loadCredentials(sameAddress, again, secret));
    EXPECT_EQ(secret, L"   ");

    saveCredentials(store, L"second", L"pw2");
    ASSERT_TRUE(load(account, password));
    EXPECT_EQ(account, L"second");
}

TEST_F(Credentials, AnotherAddressEvenInOtherCaseCannotReadTheFile) {
    saveCredentials(store, L"player", L"secret");
    std::wstring upper = url;
    upper.replace(0, 5, L"HTTPS");
    const CredentialStore other = openCredentialStore(upper);
    EXPECT_NE(other.path, store.path);
    EXPECT_NE(other.entropy, store.entropy);

    // Even the very same bytes under the other store's name do not decrypt there.
    fs::copy_file(store.path, other.path, fs::copy_options::overwrite_existing);
    std::wstring account = L"untouched", password = L"untouched";
    EXPECT_FALSE(loadCredentials(other, account, password));
    EXPECT_EQ(account, L"untouched");
    forgetCredentials(other);
}

TEST_F(Credentials, UnusableFilesLoadAsNothingAndStayInPlace) {
    std::wstring account, password;
    EXPECT_FALSE(load(account, password)) << "no file yet";

    saveCredentials(store, L"player", L"secret");
    std::string sealed = readBytes(store.path);
    sealed[sealed.size() / 2] ^= 0x55;
    writeBytes(store.path, sealed);
    EXPECT_FALSE(load(account, password));
    EXPECT_EQ(readBytes(store.path), sealed) << "a damaged file is left for the next save";

    writeBytes(store.path, std::string(16385, 'x'));
    EXPECT_FALSE(load(account, password));
    EXPECT_TRUE(fs::exists(store.path));
    EXPECT_TRUE(account.empty());
}

TEST_F(Credentials, BlankAccountIsNotSavedAndTheOldPairStays) {
    saveCredentials(store, L"player", L"secret");
    const std::string before = readBytes(store.path);
    EXPECT_EQ(failureOf([&] { saveCredentials(store, L" \t", L"pw"); }),
              "请输入账号和密码后再勾选记住账号密码。");
    EXPECT_EQ(failureOf([&] { saveCredentials(store, L"player", L""); }),
              "请输入账号和密码后再勾选记住账号密码。");
    EXPECT_EQ(readBytes(store.path), before);
}

TEST_F(Credentials, ForgetRemovesTheFileAndSucceedsWithoutOne) {
    EXPECT_NO_THROW(forgetCredentials(store));
    saveCredentials(store, L"player", L"secret");
    forgetCredentials(store);
    EXPECT_FALSE(fs::exists(store.path));
    std::wstring account, password;
    EXPECT_FALSE(load(account, password));
}

// The file of every release so far: a change that still round-trips within one build but reads
// another name, label or entropy would strand every player's remembered account.
TEST(CredentialFile, NameEntropyAndPlaintextStayAsEveryReleaseWroteThem) {
    TempDir dir;
    const CredentialStore store =
        openCredentialStoreInForTesting(dir.path(), L"http://127.0.0.1:9915/api/GameLoginLog/GetUidTalvo");
    // SHA-256 of "PCtalvoSDK:81:http://127.0.0.1:9915/api/GameLoginLog/GetUidTalvo".
    const std::string digest = "9E935492AC7D48AC957F64A53B05DE222452389B188C7D8CC1326BBB53326D63";
    EXPECT_EQ(store.path, dir / L"K3Gatehouse" / L"Credentials" / (testing::wide(digest) + L".bin"));
    BYTE entropyBytes[32];
    for (int i = 0; i < 32; ++i)
        entropyBytes[i] = static_cast<BYTE>(std::stoi(digest.substr(2 * i, 2), nullptr, 16));
    DATA_BLOB entropy{sizeof(entropyBytes), entropyBytes};

    saveCredentials(store, L"玩家\"一", L"pa\\ss\tw");
    std::string sealed = readBytes(store.path);
    DATA_BLOB input{static_cast<DWORD>(sealed.size()), reinterpret_cast<BYTE*>(sealed.data())};
    DATA_BLOB output{};
    ASSERT_TRUE(::CryptUnprotectData(&input, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                                     &output));
    const UniqueLocalMemory<BYTE> plaintext{output.pbData};
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(output.pbData), output.cbData),
              testing::narrow(L"{\"password\":\"pa\\\\ss\\tw\",\"username\":\"玩家\\\"一\"}"));

    // A file protected outside the launcher with the same entropy, in any valid JSON layout, loads.
    std::string written = "{ \"username\" : \"a\\u0062\", \"password\": \"x\\ud83d\\ude00\" }";
    DATA_BLOB plain{static_cast<DWORD>(written.size()), reinterpret_cast<BYTE*>(written.data())};
    DATA_BLOB protectedBlob{};
    ASSERT_TRUE(::CryptProtectData(&plain, L"", &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                                   &protectedBlob));
    const UniqueLocalMemory<BYTE> protectedOwner{protectedBlob.pbData};
    writeBytes(store.path, {reinterpret_cast<const char*>(protectedBlob.pbData), protectedBlob.cbData});
    std::wstring account, password;
    ASSERT_TRUE(loadCredentials(store, account, password));
    EXPECT_EQ(account, L"ab");
    EXPECT_EQ(password, L"x\U0001F600");
}

TEST(CredentialFolder, FolderUnderADirectoryLinkIsRefused) {
    const char* fixture = std::getenv("LAUNCHER_TEST_LINK_FIXTURE");
    if (fixture == nullptr) GTEST_SKIP() << "LAUNCHER_TEST_LINK_FIXTURE is not set: run through CTest";
    const CredentialStore store =
        openCredentialStoreInForTesting(fs::path(fixture) / L"linked-parent", L"https://a.example");
    EXPECT_EQ(failureOf([&] { saveCredentials(store, L"player", L"secret"); }), "安装路径不能包含目录链接。");
    EXPECT_FALSE(fs::exists(fs::path(fixture) / L"outside" / L"K3Gatehouse"));
}

TEST(CredentialFolder, FolderIsCreatedOnFirstSave) {
    TempDir dir;
    const CredentialStore store = openCredentialStoreInForTesting(dir.path(), L"https://a.example");
    saveCredentials(store, L"player", L"secret");
    EXPECT_EQ(testing::listNames(dir / L"K3Gatehouse" / L"Credentials"),
              std::vector<std::wstring>{store.path.filename().native()});
}

} // namespace
} // namespace launcher
