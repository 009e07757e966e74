#include "foundation/cancel_token.h"

#include "foundation/error.h"

namespace launcher {

void throwIfCanceled(const CancelToken& token) {
    if (token.canceled_.load()) throw Canceled();
}

void cancel(CancelToken& token) noexcept {
    // Set the flag before taking the lock: a request attached after this moment sees it.
    token.canceled_.exchange(true);
    std::lock_guard guard(token.lock_);
    token.activeRequest_.reset();
}

HINTERNET attachRequest(CancelToken& token, UniqueWinHttp request) {
    std::lock_guard guard(token.lock_);
    if (token.canceled_.load()) throw Canceled(); // `request` closes as it goes out of scope
    token.activeRequest_ = std::move(request);
    return token.activeRequest_.get();
}

void detachRequest(CancelToken& token, HINTERNET request) noexcept {
    std::lock_guard guard(token.lock_);
    // If cancel() got here first it has closed the handle already; never close it twice.
    if (request != nullptr && token.activeRequest_.get() == request) token.activeRequest_.reset();
}

} // namespace launcher
