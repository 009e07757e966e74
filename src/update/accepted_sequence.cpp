#include "update/accepted_sequence.h"

#include "foundation/unique_handle.h"

#include <windows.h>

namespace launcher {
namespace {

// Two launchers of one user may accept manifests at the same time; reading and writing the value
// in turn keeps the higher of the two.
UniqueHeldMutex holdSequenceMutex() {
    UniqueKernelHandle mutex{::CreateMutexW(nullptr, FALSE, L"Local\\K3Gatehouse.AcceptedSequence")};
    if (!mutex) return {};
    const DWORD waited = ::WaitForSingleObject(mutex.get(), 5000);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return {};
    return UniqueHeldMutex{mutex.release()};
}

} // namespace

std::uint64_t readAcceptedSequence(const std::wstring& key, const std::wstring& name) noexcept {
    std::uint64_t value = 0;
    DWORD size = sizeof(value);
    if (::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name.c_str(), RRF_RT_QWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS)
        return 0;
    return value;
}

bool raiseAcceptedSequence(const std::wstring& key, const std::wstring& name,
                           std::uint64_t sequence) noexcept {
    const auto held = holdSequenceMutex();
    if (!held) return false;
    if (readAcceptedSequence(key, name) >= sequence) return true;
    HKEY opened = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                          nullptr, &opened, nullptr) != ERROR_SUCCESS)
        return false;
    const UniqueRegistryKey owner{opened};
    return ::RegSetValueExW(opened, name.c_str(), 0, REG_QWORD, reinterpret_cast<const BYTE*>(&sequence),
                            sizeof(sequence)) == ERROR_SUCCESS &&
           ::RegFlushKey(opened) == ERROR_SUCCESS;
}

} // namespace launcher
