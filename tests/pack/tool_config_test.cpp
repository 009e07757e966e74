// What the publisher's tool judges a client against: the install folder entry paths are measured
// under, and a configuration file it cannot use, named with what is wrong.
#include "config/deployment.h"
#include "config/launcher_config.h"
#include "foundation/resources.h"
#include "pack/client_folder.h"
#include "pack/tool_config.h"
#include "support/test_support.h"
#include "tool_refusal_text.h"

#include <gtest/gtest.h>

#include <functional>

namespace launcher {
namespace {

using nlohmann::json;
using testing::TempDir;
namespace fs = std::filesystem;

// The built-in configuration with `change` applied, written as a launcher.config.json in `dir`.
fs::path writeConfig(const fs::path& dir, const std::function<void(json&)>& change) {
    json document = json::parse(loadResourceBytes(builtinConfigResourceId));
    change(document);
    const fs::path file = dir / configFileName;
    testing::writeBytes(file, serializeConfigDocument(document));
    return file;
}

TEST(EntryPaths, AreMeasuredUnderTheLongestInstallFolderAPlayerIsLikelyToHave) {
    // The installer's folder for a 20-character user name: 68 UTF-16 units, so an entry under
    // TalvoPC/ may have 240 - 68 - 9 = 163 of its own.
    const std::string likely =
        "C:\\Users\\TwentyCharactersUser\\AppData\\Local\\Programs\\曜石纪元\\GameClient";
    const std::string deep = "C:\\" + std::string(100, 'd'); // 103 units: room for 128
    struct Case {
        const char* what;
        std::optional<std::string> installDirectory; // in a configuration file; none: built-in
        std::size_t nameLength;
        std::string expected; // "<no error>", or the folder, length and limit of the refusal
    };
    const Case cases[] = {
        {"built-in, just under", std::nullopt, 163, "<no error>"},
        {"built-in, just over", std::nullopt, 164, "under " + likely + " (68 units) | 241"},
        {"shorter relative folder", "Client", 164, "under " + likely + " (68 units) | 241"},
        {"longer absolute folder, just under", deep, 128, "<no error>"},
        {"longer absolute folder, just over", deep, 129, "under " + deep + " (103 units) | 241"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        const std::string name = "TalvoPC/" + std::string(row.nameLength, 'n');
        fs::create_directories(dir / L"client" / L"TalvoPC");
        testing::writeBytes(dir / L"client" / L"TalvoPC" / std::wstring(row.nameLength, L'n'), "x");
        std::optional<fs::path> file;
        if (row.installDirectory)
            file = writeConfig(dir.path(), [&](json& document) {
                document["clientPackage"]["installDirectory"] = *row.installDirectory;
            });
        const ClientRules rules = clientRules(loadToolConfig(file, dir / L"tool").effective);
        const std::string outcome =
            testing::refusalOf([&] { readClientFolder(dir / L"client", rules, CancelToken{}); });
        if (row.expected == "<no error>") {
            EXPECT_EQ(outcome, row.expected);
        } else {
            EXPECT_EQ(outcome, "entry-path-too-long | " + name + " | at most 240 UTF-16 units, " +
                                   row.expected + " UTF-16 units");
        }
    }
}

TEST(ToolConfiguration, AFileTheToolCannotUseIsNamedWithWhatIsWrong) {
    struct Case {
        const char* what;
        std::optional<std::string> bytes; // none: no file
        std::string expected;             // {file} stands for the file's path
    };
    const auto configured = [](const char* member, json value) {
        json document = json::parse(loadResourceBytes(builtinConfigResourceId));
        document["clientPackage"][member] = std::move(value);
        return std::optional<std::string>(serializeConfigDocument(document));
    };
    const std::string foreign = "http://cdn.example.com/K3ClientRes/exe/TalvoPC/p.zip";
    const Case cases[] = {
        {"missing", std::nullopt, "config-file | {file} | a readable file of at most 65,536 bytes | missing"},
        {"broken JSON", "{\n  \"clientPackage\": }\n",
         "config-json | {file} | a JSON object in UTF-8, as launcher.config.json | parse error at line 2, "
         "column 20: syntax error while parsing value - unexpected '}'; expected '[', '{', or a literal"},
        {"a limit of the wrong type", configured("maxExtractBytes", "lots"),
         "config-invalid | {file} |  | 安装包大小限制无效。"},
        {"a package address on another host", configured("downloadUrl", foreign),
         "package-url | " + foreign + " | https://<any host>/..., or http://" + std::string(packageHostUtf8) +
             "/K3ClientRes/exe/TalvoPC/....zip on port 80 (the package host this tool was built for) | " +
             foreign},
        {"a device name as the executable", configured("executablePath", "TalvoPC/con.exe"),
         "entry-path-device-name | TalvoPC/con.exe | no device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9), "
         "with or without an extension | \"con.exe\""},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        const fs::path file = dir / configFileName;
        if (row.bytes) testing::writeBytes(file, *row.bytes);
        std::string expected = row.expected;
        if (const std::size_t at = expected.find("{file}"); at != std::string::npos)
            expected.replace(at, 6, testing::narrow(file.native()));
        EXPECT_EQ(testing::refusalOf([&] {
                      const ToolConfig config = loadToolConfig(file, dir.path());
                      validateToolConfig(config.effective, config.file);
                  }),
                  expected);
    }
}

} // namespace
} // namespace launcher
