#pragma once

#include <windows.h>
#include <bcrypt.h>
#include <objbase.h>
#include <oleauto.h>
#include <winhttp.h>
#include <restartmanager.h>

#include <utility>

namespace launcher {

// One owner for one platform handle. Move-only; reset() and the destructor close the handle and
// leave GetLastError() as it was, so a failure can still be examined after cleanup.
template <class Traits>
class Unique {
public:
    using Handle = typename Traits::Handle;

    Unique() = default;
    explicit Unique(Handle handle) noexcept : handle_(handle) {}
    Unique(Unique&& other) noexcept : handle_(other.release()) {}
    Unique& operator=(Unique&& other) noexcept {
        reset(other.release());
        return *this;
    }
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    ~Unique() { reset(); }

    Handle get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return Traits::valid(handle_); }

    void reset(Handle handle = Traits::none()) noexcept {
        if (handle_ == handle) return;
        if (Traits::valid(handle_)) {
            const DWORD lastError = ::GetLastError();
            Traits::close(handle_);
            ::SetLastError(lastError);
        }
        handle_ = handle;
    }

    [[nodiscard]] Handle release() noexcept { return std::exchange(handle_, Traits::none()); }

private:
    Handle handle_ = Traits::none();
};

struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle none() noexcept { return INVALID_HANDLE_VALUE; }
    static bool valid(Handle h) noexcept { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void close(Handle h) noexcept { ::CloseHandle(h); }
};

// Threads, processes, events and other kernel objects whose "no handle" value is null.
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle none() noexcept { return nullptr; }
    static bool valid(Handle h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(Handle h) noexcept { ::CloseHandle(h); }
};

// A mutex this thread holds: released and closed together.
struct HeldMutexTraits {
    using Handle = HANDLE;
    static Handle none() noexcept { return nullptr; }
    static bool valid(Handle h) noexcept { return h != nullptr; }
    static void close(Handle h) noexcept {
        ::ReleaseMutex(h);
        ::CloseHandle(h);
    }
};

struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle none() noexcept { return INVALID_HANDLE_VALUE; }
    static bool valid(Handle h) noexcept { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void close(Handle h) noexcept { ::FindClose(h); }
};

struct WinHttpHandleTraits {
    using Handle = HINTERNET;
    static Handle none() noexcept { return nullptr; }
    static bool valid(Handle h) noexcept { return h != nullptr; }
    static void close(Handle h) noexcept { ::WinHttpCloseHandle(h); }
};

template <class H>
struct GdiObjectTraits {
    using Handle = H;
    static Handle none() noexcept { return nullptr; }
    static bool valid(Handle h) noexcept { return h != nullptr; }
    static void close(Handle h) noexcept { ::DeleteObject(h); }
};

struct MemoryDcTraits {
    using Handle = HDC;
    static Handle none() noexcept { return nullptr; }
    static bool valid(Handle h) noexcept { return h != nullptr; }
    static void close(Handle h) noexcept { ::DeleteDC(h); }
};

struct BcryptAlgorithmTraits {
    using Handle = BCRYPT_ALG_HANDLE;
    static Handle none() noexcept { return nullptr; }
    static bool valid(Handle h) noexcept { return h != nullptr; }
    static void close(Handle h) noexcept { ::BCryptCloseAlgorithmProvider(h, 0); }
};

struct BcryptHashTraits {
    using Handle = BCRYPT_HASH_HANDLE;
    static Handle none() noexcept { return nullptr; }
    static bool valid(Handle h) noexcept { return h != nullptr; }
    static void close(Handle h) noexcept { ::BCryptDestroyHash(h); }
};

struct BcryptKeyTraits {
    using Handle = BCRYPT_KEY_HANDLE;
    static Handle none() noexcept { return nullptr; }
    static bool valid(Handle h) noexcept { return h != nullptr; }
    static void close(Handle h) noexcept { ::BCryptDestroyKey(h); }
};

struct RegistryKeyTraits {
    using Handle = HKEY;
    static Handle none() noexcept { return nullptr; }
    static bool valid(Handle h) noexcept { return h != nullptr; }
    static void close(Handle h) noexcept { ::RegCloseKey(h); }
};

// A module loaded with LoadLibraryExW, also as a data file for its resources alone.
struct ModuleTraits {
    using Handle = HMODULE;
    static Handle none() noexcept { return nullptr; }
    static bool valid(Handle h) noexcept { return h != nullptr; }
    static void close(Handle h) noexcept { ::FreeLibrary(h); }
};

// A Restart Manager session. Its handle is a plain number, and 0 may be one.
struct RestartManagerSessionTraits {
    using Handle = DWORD;
    static Handle none() noexcept { return static_cast<DWORD>(-1); }
    static bool valid(Handle h) noexcept { return h != none(); }
    static void close(Handle h) noexcept { ::RmEndSession(h); }
};

// Memory the platform hands out with LocalAlloc (DPAPI blobs) or CoTaskMemAlloc (shell paths).
template <class T>
struct LocalMemoryTraits {
    using Handle = T*;
    static Handle none() noexcept { return nullptr; }
    static bool valid(Handle h) noexcept { return h != nullptr; }
    static void close(Handle h) noexcept { ::LocalFree(h); }
};

template <class T>
struct CoTaskMemoryTraits {
    using Handle = T*;
    static Handle none() noexcept { return nullptr; }
    static bool valid(Handle h) noexcept { return h != nullptr; }
    static void close(Handle h) noexcept { ::CoTaskMemFree(h); }
};

// A movable block from GlobalAlloc, until something that frees it itself (a stream made with
// CreateStreamOnHGlobal's fDeleteOnRelease) takes it over through release().
struct GlobalMemoryTraits {
    using Handle = HGLOBAL;
    static Handle none() noexcept { return nullptr; }
    static bool valid(Handle h) noexcept { return h != nullptr; }
    static void close(Handle h) noexcept { ::GlobalFree(h); }
};

// One reference to a COM object, as a function that creates one or hands one out gives it.
template <class T>
struct ComReferenceTraits {
    using Handle = T*;
    static Handle none() noexcept { return nullptr; }
    static bool valid(Handle h) noexcept { return h != nullptr; }
    static void close(Handle h) noexcept { h->Release(); }
};

// A string from the automation allocator, as an accessible object hands out its name.
struct BstrTraits {
    using Handle = BSTR;
    static Handle none() noexcept { return nullptr; }
    static bool valid(Handle h) noexcept { return h != nullptr; }
    static void close(Handle h) noexcept { ::SysFreeString(h); }
};

// A hook on the platform's accessibility events, from SetWinEventHook.
struct WinEventHookTraits {
    using Handle = HWINEVENTHOOK;
    static Handle none() noexcept { return nullptr; }
    static bool valid(Handle h) noexcept { return h != nullptr; }
    static void close(Handle h) noexcept { ::UnhookWinEvent(h); }
};

using UniqueFile = Unique<FileHandleTraits>;
using UniqueKernelHandle = Unique<KernelHandleTraits>;
using UniqueHeldMutex = Unique<HeldMutexTraits>;
using UniqueFind = Unique<FindHandleTraits>;
using UniqueWinHttp = Unique<WinHttpHandleTraits>;
using UniqueBcryptAlgorithm = Unique<BcryptAlgorithmTraits>;
using UniqueBcryptHash = Unique<BcryptHashTraits>;
using UniqueBcryptKey = Unique<BcryptKeyTraits>;
using UniqueRegistryKey = Unique<RegistryKeyTraits>;
using UniqueModule = Unique<ModuleTraits>;
using UniqueRestartManagerSession = Unique<RestartManagerSessionTraits>;
template <class T>
using UniqueLocalMemory = Unique<LocalMemoryTraits<T>>;
template <class T>
using UniqueCoTaskMemory = Unique<CoTaskMemoryTraits<T>>;
using UniqueGlobalMemory = Unique<GlobalMemoryTraits>;
using UniqueBstr = Unique<BstrTraits>;
using UniqueWinEventHook = Unique<WinEventHookTraits>;
template <class T>
using UniqueComReference = Unique<ComReferenceTraits<T>>;
using UniqueFont = Unique<GdiObjectTraits<HFONT>>;
using UniqueBrush = Unique<GdiObjectTraits<HBRUSH>>;
using UniqueBitmap = Unique<GdiObjectTraits<HBITMAP>>;
using UniqueRegion = Unique<GdiObjectTraits<HRGN>>;
using UniqueMemoryDc = Unique<MemoryDcTraits>; // from CreateCompatibleDC, not GetDC

// Runs a callable when the scope ends, on every path. For cleanup that is not a handle.
template <class F>
class ScopeExit {
public:
    explicit ScopeExit(F f) noexcept : f_(std::move(f)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit() { f_(); }

private:
    F f_;
};

} // namespace launcher
