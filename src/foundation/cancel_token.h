#pragma once

#include "foundation/unique_handle.h"

#include <atomic>
#include <mutex>

namespace launcher {

// Lets the window thread stop one piece of work, including a worker blocked inside an HTTP
// transfer: cancelling closes the request in flight, which fails the blocked call.
// Shared by the worker (checks, attaches requests) and the window thread (cancels).
class CancelToken {
public:
    CancelToken() = default;
    CancelToken(const CancelToken&) = delete;
    CancelToken& operator=(const CancelToken&) = delete;

    bool canceled() const noexcept { return canceled_.load(); }

private:
    friend void throwIfCanceled(const CancelToken&);
    friend void cancel(CancelToken&) noexcept;
    friend HINTERNET attachRequest(CancelToken&, UniqueWinHttp);
    friend void detachRequest(CancelToken&, HINTERNET) noexcept;

    std::atomic<bool> canceled_{false};
    std::mutex lock_;
    UniqueWinHttp activeRequest_; // guarded by lock_
};

// Throws Canceled once the token is cancelled; returns at once otherwise. Any thread.
void throwIfCanceled(const CancelToken& token);

// Marks the token cancelled for good and closes the attached request, if any. Harmless to
// repeat. Called from the window thread.
void cancel(CancelToken& token) noexcept;

// Hands the freshly opened request to the token before anything is sent, and returns it for
// use. If the token is already cancelled, the request is closed and Canceled is thrown.
HINTERNET attachRequest(CancelToken& token, UniqueWinHttp request);

// Closes the request unless cancel() already did; call on every path once the transfer is done.
void detachRequest(CancelToken& token, HINTERNET request) noexcept;

} // namespace launcher
