#pragma once

// Where the time from the process's creation to the window's first frame goes: each step of
// start-up marks when it ended, and once the frame is painted one log line lists them, for
// support (a player whose launcher opens slowly) and the window benchmark. Window thread only.
namespace launcher {

// Records that start-up step `step` (a literal) ended now. Steps past the first 24 are dropped.
void markStartup(const char* step) noexcept;

// Logs "launcher.first_frame" with the milliseconds from the process's creation to the end of each
// marked step, in order, to a tenth: `steps=main:21.4,com:24.0,...`.
void logStartupSteps() noexcept;

} // namespace launcher
