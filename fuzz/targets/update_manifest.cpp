// Reads an update manifest as the launcher does once its signature has been checked. A manifest
// that is accepted must read back the same once the publishing tool writes it out again, or an
// operator's republished manifest would mean something else.
#include "foundation/error.h"
#include "update/update_manifest.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        const launcher::UpdateManifest manifest = launcher::parseUpdateManifest(bytes);
        if (manifest.launcher &&
            launcher::compareVersions(manifest.launcher->version, manifest.launcher->version))
            std::abort();
        const std::string written = launcher::serializeUpdateManifest(manifest);
        if (written.size() > launcher::maxUpdateManifestBytes) return 0; // indentation can outgrow the limit
        const launcher::UpdateManifest again = launcher::parseUpdateManifest(written);
        if (again.sequence != manifest.sequence || again.expires != manifest.expires ||
            again.clientPackage != manifest.clientPackage ||
            again.launcher.has_value() != manifest.launcher.has_value())
            std::abort();
    } catch (const launcher::Error& error) {
        if (std::string_view(error.what()) != "更新清单无效。") std::abort();
    }
    return 0;
}
