#pragma once

// gatehouse-pack verify's look at a hosted content store: the index the manifest names, fetched
// and judged as the launcher judges it, and every pack it names answering a byte range.
#include "foundation/cancel_token.h"
#include "pack/deployment_verify.h"

#include <nlohmann/json.hpp>

#include <functional>

namespace launcher {

// Checks the store that `clientPackage` (as the manifest applies it) names in its "index" member;
// nothing when it names none. Each finding goes to `add`: "store.index.address" (HTTP 200 within the
// size the manifest names), "store.index.sha256" (its size and digest), "store.index.document" (it
// reads, and is the index of the manifest's package), "store.packs" (every pack answers a one-byte
// range at its last byte with 206). Throws only Canceled.
void verifyStore(const nlohmann::json& clientPackage, CancelToken& token,
                 const std::function<void(VerifyFinding)>& add);

} // namespace launcher
