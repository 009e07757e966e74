// Reads an installed-client marker and judges it as the readiness check does, with every recorded
// file answered from the input instead of the disk. The first byte picks the install folder, the
// configured version and digest (the marker's own, so the files are reached, or others) and which
// files count as missing; the rest is the marker.
#include "foundation/error.h"
#include "install/marker_content.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

constexpr std::array<std::wstring_view, 4> folders = {L"C:\\Games\\Gatehouse\\GameClient", L"D:\\",
                                                      L"\\\\server\\share\\client",
                                                      L"\\\\?\\C:\\Program Files\\K3\\GameClient"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t choice = data[0];
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    launcher::MarkerContent marker;
    if (!launcher::readMarkerContent(bytes, marker)) return 0;
    // The list ends at its first damaged entry, and each entry's path ends where the next begins.
    std::uint32_t previousEnd = 0;
    for (std::size_t i = 0; i < marker.files.size(); ++i) {
        const launcher::RecordedFile& file = marker.files[i];
        if ((!file.wellFormed && i + 1 != marker.files.size()) || file.pathEnd < previousEnd ||
            file.pathEnd > marker.paths.size())
            std::abort();
        previousEnd = file.pathEnd;
    }

    const std::wstring_view folder = folders[choice & 3];
    const bool ownVersion = choice & 4;
    const std::string version = ownVersion ? marker.version.text : "2026-11-09.3";
    const std::string digest = choice & 8 ? "" : ownVersion ? marker.sha256.text : std::string(64, 'a');
    std::size_t asked = 0;
    try {
        const launcher::MarkerVerdict verdict =
            launcher::judgeMarker(marker, version, digest, folder,
                                  [&](const std::wstring& path, std::uint64_t length) -> const char* {
                                      // Every file asked about lies strictly below the install folder.
                                      if (!path.starts_with(folder) ||
                                          path.size() <= folder.size() + (folder.ends_with(L'\\') ? 0 : 1))
                                          std::abort();
                                      ++asked;
                                      return choice & 16 && length % 7 == 3 ? "file missing" : nullptr;
                                  });
        const std::string_view reason = verdict.reason;
        if (reason.empty() && asked != marker.files.size()) std::abort(); // ready only with every file seen
        if (reason == "file missing" && verdict.path.empty()) std::abort();
    } catch (const launcher::Error& error) {
        if (*error.what() == '\0') std::abort();
    }
    return 0;
}
