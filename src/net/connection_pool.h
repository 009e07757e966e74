#pragma once

#include "foundation/cancel_token.h"
#include "net/store_connection.h"

#include <cstddef>
#include <functional>

namespace launcher {

// One job of a run: `job` is its number; `connection` is the calling thread's own; `token` is
// cancelled when the player cancels or another job failed.
using ConnectionJob = std::function<void(std::size_t job, StoreConnection& connection, CancelToken& token)>;

// Runs jobs 0 .. jobCount - 1, each once, in the order the threads take them, on
// min(connections, jobCount) threads that each keep one StoreConnection for every job they take.
// `work` runs on several threads at once and guards what it shares. The first job that throws
// cancels the others (closing their requests at once), no job starts after it, and its exception
// is what this throws once every thread has ended; Canceled when `token` was cancelled.
void runOnConnections(std::size_t jobCount, unsigned connections, CancelToken& token,
                      const ConnectionJob& work);

} // namespace launcher
