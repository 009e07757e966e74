// Checks what Windows shows of Gatehouse.exe before it runs: the version information in the
// file's properties, the icon, the manifest and the built-in configuration.
#include "foundation/resources.h"
#include "foundation/text.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <memory>

namespace launcher {
namespace {

struct ModuleDeleter {
    void operator()(HMODULE module) const { ::FreeLibrary(module); }
};

class GatehouseExecutable : public ::testing::Test {
protected:
    void SetUp() override {
        module_.reset(::LoadLibraryExW(GATEHOUSE_EXE, nullptr,
                                       LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
        ASSERT_NE(module_, nullptr) << "cannot open " << testing::narrow(GATEHOUSE_EXE);
    }

    std::string resourceBytes(const wchar_t* type, int id) {
        HRSRC info = ::FindResourceW(module_.get(), MAKEINTRESOURCEW(id), type);
        if (info == nullptr) return {};
        HGLOBAL loaded = ::LoadResource(module_.get(), info);
        return std::string(static_cast<const char*>(::LockResource(loaded)),
                           ::SizeofResource(module_.get(), info));
    }

    std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleDeleter> module_;
};

std::wstring versionString(const std::string& block, const wchar_t* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring path = std::wstring(L"\\StringFileInfo\\080404B0\\") + name;
    if (!::VerQueryValueW(block.data(), path.c_str(), &value, &length) || length == 0) return L"<missing>";
    return std::wstring(static_cast<const wchar_t*>(value), length - 1);
}

TEST_F(GatehouseExecutable, ShowsItsChineseVersionInformation) {
    const std::string block = resourceBytes(MAKEINTRESOURCEW(16) /* RT_VERSION */, 1);
    ASSERT_FALSE(block.empty());
    EXPECT_EQ(versionString(block, L"CompanyName"), L"曜石纪元");
    EXPECT_EQ(versionString(block, L"FileDescription"), L"talvo-曜石纪元 原生启动器");
    EXPECT_EQ(versionString(block, L"FileVersion"), L"0.6.1");
    EXPECT_EQ(versionString(block, L"ProductVersion"), L"0.6.1");
    EXPECT_EQ(versionString(block, L"InternalName"), L"Gatehouse");
    EXPECT_EQ(versionString(block, L"OriginalFilename"), L"Gatehouse.exe");
    EXPECT_EQ(versionString(block, L"ProductName"), L"talvo-曜石纪元");

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00000006u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00010000u);
}

TEST_F(GatehouseExecutable, CarriesItsManifestIconAndConfiguration) {
    const std::string manifest = resourceBytes(MAKEINTRESOURCEW(24) /* RT_MANIFEST */, 1);
    for (const char* part :
         {"name=\"PCtalvoNativeLauncher\"", "version=\"0.6.1.0\"", "level=\"asInvoker\"",
          "uiAccess=\"false\"", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", "Microsoft.Windows.Common-Controls",
          "version=\"6.0.0.0\"", ">true</dpiAware>", ">true</longPathAware>"})
        EXPECT_NE(manifest.find(part), std::string::npos) << part;

    const std::string iconGroup = resourceBytes(MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */, 1);
    ASSERT_GE(iconGroup.size(), 6u);
    EXPECT_EQ(static_cast<unsigned char>(iconGroup[4]), 6) << "six icon sizes";

    EXPECT_EQ(resourceBytes(MAKEINTRESOURCEW(10) /* RT_RCDATA */, builtinConfigResourceId),
              loadResourceBytes(builtinConfigResourceId));

    // The skin: a 1105 x 632 PNG, 8 bits per channel with alpha (its alpha is the window's shape).
    const std::string skin = resourceBytes(MAKEINTRESOURCEW(10) /* RT_RCDATA */, skinResourceId);
    ASSERT_GE(skin.size(), 33u);
    EXPECT_EQ(skin.substr(0, 8), "\x89PNG\r\n\x1A\n");
    const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(skin[i]); };
    EXPECT_EQ(byteAt(16) << 24 | byteAt(17) << 16 | byteAt(18) << 8 | byteAt(19), 1105);
    EXPECT_EQ(byteAt(20) << 24 | byteAt(21) << 16 | byteAt(22) << 8 | byteAt(23), 632);
    EXPECT_EQ(byteAt(24), 8) << "bit depth";
    EXPECT_EQ(byteAt(25), 6) << "colour type: RGB with alpha";
}

} // namespace
} // namespace launcher
