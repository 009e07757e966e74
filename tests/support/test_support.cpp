#include "support/test_support.h"

#include "foundation/text.h"
#include "foundation/unique_name.h"

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace launcher::testing {

TempDir::TempDir(const std::filesystem::path& parent) {
    path_ = parent / (L"gatehouse-test-" + wide(newUniqueHexName()));
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    // Tests may leave read-only files behind; clear the attribute so removal succeeds.
    std::error_code ignored;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored))
        ::SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    std::filesystem::remove_all(path_, ignored);
}

void writeBytes(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("test could not write " + path.string());
}

std::string readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("test could not read " + path.string());
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<std::wstring> listNames(const std::filesystem::path& directory) {
    std::vector<std::wstring> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.push_back(entry.path().filename().native());
    std::ranges::sort(names);
    return names;
}

std::string failureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const Error& error) {
        return error.what();
    } catch (const std::exception& other) {
        return std::string("<other: ") + other.what() + ">";
    }
    return "<no error>";
}

std::string patternBytes(std::size_t size) {
    std::string bytes(size, '\0');
    std::uint32_t state = 2463534242u;
    for (char& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<char>(state);
    }
    return bytes;
}

bool runningUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::wstring wide(std::string_view utf8) {
    return multiByteToUtf16(utf8, codePageUtf8);
}
std::string narrow(std::wstring_view utf16) {
    return utf16ToUtf8(utf16);
}

} // namespace launcher::testing
