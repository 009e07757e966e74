#include "foundation/cancel_token.h"

#include "foundation/error.h"

#include <algorithm>

namespace launcher {

void throwIfCanceled(const CancelToken& token) {
    if (token.canceled_.load()) throw Canceled();
}

void cancel(CancelToken& token) noexcept {
    // Set the flag before taking the lock: a request attached after this moment sees it.
    token.canceled_.exchange(true);
    std::lock_guard guard(token.lock_);
    token.activeRequests_.clear();
    for (CancelToken* child : token.children_)
        cancel(*child);
}

HINTERNET attachRequest(CancelToken& token, UniqueWinHttp request) {
    std::lock_guard guard(token.lock_);
    if (token.canceled_.load()) throw Canceled(); // `request` closes as it goes out of scope
    token.activeRequests_.push_back(std::move(request));
    return token.activeRequests_.back().get();
}

void detachRequest(CancelToken& token, HINTERNET request) noexcept {
    std::lock_guard guard(token.lock_);
    // If cancel() got here first it has closed the handle already; never close it twice.
    std::erase_if(token.activeRequests_,
                  [&](const UniqueWinHttp& active) { return request != nullptr && active.get() == request; });
}

LinkedCancelToken::LinkedCancelToken(CancelToken& parent) : parent_(parent) {
    std::lock_guard guard(parent_.lock_);
    parent_.children_.push_back(&token_);
    if (parent_.canceled_.load()) token_.canceled_.store(true);
}

LinkedCancelToken::~LinkedCancelToken() {
    std::lock_guard guard(parent_.lock_);
    std::erase(parent_.children_, &token_);
}

} // namespace launcher
