#pragma once

// What foundation/unique_handle.h ends a Restart Manager session with. Declared only: no target
// starts one.
#include <windows.h>

DWORD RmEndSession(DWORD session);
