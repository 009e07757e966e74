#include "foundation/stay_awake.h"

#include <windows.h>

namespace launcher {

StayAwake::StayAwake() noexcept {
    // The display may still turn off; only sleep is held back.
    ::SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
}

StayAwake::~StayAwake() {
    ::SetThreadExecutionState(ES_CONTINUOUS);
}

} // namespace launcher
