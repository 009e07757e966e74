#pragma once

// The highest update manifest sequence this Windows user's launchers accepted with one signing key,
// kept in the registry rather than beside the stored manifest: a save torn by a power cut, a full
// disk or a deleted file cannot lower it, so an older signed manifest never becomes acceptable again.
#include <cstdint>
#include <string>

namespace launcher {

// The value `name` under HKEY_CURRENT_USER\`key`; 0 when there is none or it cannot be read.
std::uint64_t readAcceptedSequence(const std::wstring& key, const std::wstring& name) noexcept;

// Raises the value to `sequence` unless it is already as high; never lowers it, not even against
// another launcher of the same user raising it at the same moment. False when it cannot be written.
bool raiseAcceptedSequence(const std::wstring& key, const std::wstring& name,
                           std::uint64_t sequence) noexcept;

} // namespace launcher
