#include "config/build_identity.h"

#include "foundation/error.h"
#include "foundation/resources.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"

#include <nlohmann/json.hpp>

#include <windows.h>

#include <cstdint>
#include <string_view>

namespace launcher {
namespace {

using nlohmann::json;

// The bytes of resource `id` of `type` in `module` (null: the running executable), or nothing.
std::optional<std::string> resourceBytes(HMODULE module, const wchar_t* type, int id) {
    HRSRC info = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (info == nullptr) return std::nullopt;
    // Resource memory belongs to the loaded image: nothing to free.
    HGLOBAL loaded = ::LoadResource(module, info);
    const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
    const DWORD size = ::SizeofResource(module, info);
    if (bytes == nullptr) return std::nullopt;
    return std::string(static_cast<const char*>(bytes), size);
}

std::uint32_t littleEndian32(std::string_view bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t index = 4; index-- > 0;)
        value = value << 8 | static_cast<unsigned char>(bytes[at + index]);
    return value;
}

// The fixed file version of a VERSIONINFO resource as "a.b.c.d", or nothing when the block holds
// none.
std::optional<std::string> fixedFileVersion(std::string_view versionBlock) {
    // VS_VERSIONINFO: three WORDs, the key L"VS_VERSION_INFO" with its terminator (32 bytes),
    // padding to 32 bits, then VS_FIXEDFILEINFO when the value length says there is one.
    constexpr std::size_t fixedAt = 40;
    constexpr std::uint32_t signature = 0xFEEF04BD;
    if (versionBlock.size() < fixedAt + sizeof(VS_FIXEDFILEINFO)) return std::nullopt;
    const unsigned valueLength =
        static_cast<unsigned char>(versionBlock[2]) | static_cast<unsigned char>(versionBlock[3]) << 8;
    if (valueLength < sizeof(VS_FIXEDFILEINFO) || littleEndian32(versionBlock, fixedAt) != signature)
        return std::nullopt;
    const std::uint32_t high = littleEndian32(versionBlock, fixedAt + 8); // dwFileVersionMS
    const std::uint32_t low = littleEndian32(versionBlock, fixedAt + 12); // dwFileVersionLS
    return std::to_string(high >> 16) + "." + std::to_string(high & 0xFFFF) + "." +
           std::to_string(low >> 16) + "." + std::to_string(low & 0xFFFF);
}

BuildIdentity identityOf(HMODULE module) {
    BuildIdentity identity;
    if (const auto block = resourceBytes(module, MAKEINTRESOURCEW(16) /* RT_VERSION */, 1))
        identity.version = fixedFileVersion(*block);
    if (const auto document =
            resourceBytes(module, MAKEINTRESOURCEW(10) /* RT_RCDATA */, updateChannelResourceId))
        identity.channel = parseBuildChannel(*document);
    return identity;
}

} // namespace

std::optional<BuildChannel> parseBuildChannel(std::string_view document) {
    const json parsed = json::parse(document, nullptr, false);
    if (!parsed.is_object()) return std::nullopt;
    const auto url = parsed.find("manifestUrl");
    if (url == parsed.end() || !url->is_string()) return std::nullopt;
    BuildChannel channel{.manifestUrl = url->get<std::string>(), .publicKeys = {}};
    if (const auto keys = parsed.find("publicKeys"); keys != parsed.end()) {
        if (!keys->is_array()) return std::nullopt;
        for (const json& key : *keys) {
            if (!key.is_string()) return std::nullopt;
            channel.publicKeys.push_back(key.get<std::string>());
        }
    } else if (const auto key = parsed.find("publicKey"); key != parsed.end() && key->is_string()) {
        if (!key->get_ref<const std::string&>().empty())
            channel.publicKeys.push_back(key->get<std::string>());
    } else {
        return std::nullopt;
    }
    return channel;
}

BuildIdentity runningBuildIdentity() {
    return identityOf(nullptr);
}

BuildIdentity readBuildIdentity(const std::filesystem::path& executable) {
    const UniqueModule module{::LoadLibraryExW(executable.c_str(), nullptr,
                                               LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)};
    if (!module) throw Error("无法读取启动器文件的资源：" + utf16ToUtf8(executable.native()));
    return identityOf(module.get());
}

} // namespace launcher
