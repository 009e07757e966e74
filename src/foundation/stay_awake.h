#pragma once

namespace launcher {

// Keeps the PC from sleeping while it lives: Windows does not count a download or an extraction as
// activity, and a laptop on battery would sleep in the middle of one. The request belongs to the
// thread that made it, which must also end it.
class StayAwake {
public:
    StayAwake() noexcept;
    ~StayAwake();
    StayAwake(const StayAwake&) = delete;
    StayAwake& operator=(const StayAwake&) = delete;
};

} // namespace launcher
