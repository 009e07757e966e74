#pragma once

#include "foundation/unique_handle.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace launcher {

// Lets the window thread stop one piece of work, including workers blocked inside HTTP transfers:
// cancelling closes every request in flight, which fails the blocked calls. Shared by the workers
// (check, attach requests) and the window thread (cancels).
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
    friend class LinkedCancelToken;

    std::atomic<bool> canceled_{false};
    std::mutex lock_;
    std::vector<UniqueWinHttp> activeRequests_; // guarded by lock_
    std::vector<CancelToken*> children_;        // guarded by lock_; cancelled with this one
};

// Throws Canceled once the token is cancelled; returns at once otherwise. Any thread.
void throwIfCanceled(const CancelToken& token);

// Marks the token cancelled for good and closes the attached requests, if any, and those of the
// tokens linked to it. Harmless to repeat. Called from the window thread.
void cancel(CancelToken& token) noexcept;

// Hands the freshly opened request to the token before anything is sent, and returns it for
// use. If the token is already cancelled, the request is closed and Canceled is thrown.
HINTERNET attachRequest(CancelToken& token, UniqueWinHttp request);

// Closes the request unless cancel() already did; call on every path once the transfer is done.
void detachRequest(CancelToken& token, HINTERNET request) noexcept;

// A token of its own for part of a piece of work that runs on several threads: cancelled when the
// piece of work is (at once if it already is), and cancellable alone, so that one thread's failure
// can stop the others without the work counting as cancelled by the player.
class LinkedCancelToken {
public:
    explicit LinkedCancelToken(CancelToken& parent);
    ~LinkedCancelToken();
    LinkedCancelToken(const LinkedCancelToken&) = delete;
    LinkedCancelToken& operator=(const LinkedCancelToken&) = delete;

    CancelToken& token() noexcept { return token_; }

private:
    CancelToken& parent_;
    CancelToken token_;
};

} // namespace launcher
