#include "foundation/resources.h"

#include "foundation/error.h"

#include <windows.h>

namespace launcher {

std::string loadResourceBytes(int id) {
    HRSRC info = ::FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    if (info == nullptr) throw Error("启动器资源不完整。");
    // Resource memory belongs to the loaded image: nothing to free.
    HGLOBAL loaded = ::LoadResource(nullptr, info);
    const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
    const DWORD size = ::SizeofResource(nullptr, info);
    if (bytes == nullptr && size != 0) throw Error("启动器资源不完整。");
    return std::string(static_cast<const char*>(bytes), size);
}

} // namespace launcher
