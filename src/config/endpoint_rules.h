#pragma once

#include <string_view>

namespace launcher {

// `update`: the update manifest, its signature, launcher builds and the client's content store,
// whose bytes a signature or a signed digest vouches for: plain HTTP may reach anything under the
// package path.
enum class EndpointPurpose { login, download, update };

// Whether the launcher may contact `url` for `purpose`. HTTPS may go anywhere; plain HTTP only to
// the LAN login proxy (login) or under the package path on the package server (download). URLs
// with credentials, a fragment or control characters are refused. Never throws; any thread.
bool isAllowedEndpoint(std::wstring_view url, EndpointPurpose purpose) noexcept;

} // namespace launcher
