// Resolves an arbitrary entry name below an install folder, as extraction does with every name
// in a package. The input is UTF-16LE, the form every name has on Windows once converted, so
// any name a conversion can give (and more) is tried. The first byte picks the folder and
// whether the content is staged elsewhere first.
#include "filesystem/path_rules.h"
#include "foundation/error.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

constexpr std::array<std::wstring_view, 4> bases = {L"C:\\Games\\Gatehouse", L"C:\\",
                                                    L"\\\\server\\share\\client",
                                                    L"\\\\?\\D:\\very\\long\\install\\folder\\name"};

// What a resolved path must be: below `base`, separated by backslashes, with no segment that
// climbs or repeats the folder.
void checkBelow(std::wstring_view result, std::wstring_view base) {
    if (!result.starts_with(base) || result.size() <= base.size()) std::abort();
    std::wstring_view rest = result.substr(base.size());
    if (!base.ends_with(L'\\') && rest.front() != L'\\') std::abort();
    if (rest.find(L'/') != std::wstring_view::npos || rest.find(L':') != std::wstring_view::npos)
        std::abort();
    while (!rest.empty()) {
        if (rest.front() == L'\\') rest.remove_prefix(1);
        const std::wstring_view segment = rest.substr(0, rest.find(L'\\'));
        if (segment.empty() || segment == L"." || segment == L"..") std::abort();
        rest.remove_prefix(segment.size());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t choice = data[0];
    std::wstring name;
    for (std::size_t at = 1; at + 1 < size; at += 2)
        name.push_back(static_cast<wchar_t>(data[at] | data[at + 1] << 8));
    const std::wstring_view finalBase = bases[choice % bases.size()];
    const bool staged = (choice & 0x80) != 0;
    const std::wstring_view stagingBase = bases[(choice / bases.size()) % bases.size()];
    std::wstring result;
    try {
        if (staged) {
            launcher::resolveStagedPackagePathInto(result, stagingBase, finalBase, name);
            checkBelow(result, stagingBase);
        } else {
            launcher::resolvePackagePathInto(result, finalBase, name);
            checkBelow(result, finalBase);
            if (result.size() > launcher::maxInstalledPathLength) std::abort();
        }
    } catch (const launcher::Error&) {
        // A refused name is an answer, not a fault.
    }
    return 0;
}
