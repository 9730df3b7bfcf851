// WorkerState: what the login thread and the start-up worker share. Each value
// is a single machine word read and written atomically, without a lock.
//
// It lives with the directory connection, the lowest code that uses it: the
// connection tests and sets "TLS initialised" so that the TLS client starts
// once per process, and the workers and the login driver of core/ (which
// start, stop and wait for the worker) sit above it. Here both may include
// it without the connection reaching up into core/.

#ifndef WENDREL_DIRECTORY_WORKER_STATE_H_
#define WENDREL_DIRECTORY_WORKER_STATE_H_

#include <atomic>
#include <cstdint>

namespace wendrel {

struct WorkerState {
  // The worker thread's handle (the threads port's object), null when none.
  std::atomic<void*> thread_handle{nullptr};
  std::atomic<uint32_t> thread_id{0};
  std::atomic<int> worker_running{0};
  std::atomic<int> stop_requested{0};
  // The start latch. A worker that is created but has not run yet must not
  // lose a stop that arrives in between, and the stop must still wait for it.
  // So whoever creates the worker does the worker's own first step for it
  // (sets worker_running, clears stop_requested) before the thread exists and
  // sets this latch; the worker, when it starts, takes the latch and then
  // leaves both flags as they are. A worker run without the latch (called
  // directly) does its first step itself.
  std::atomic<int> start_pending{0};
  // Non-zero once the TLS client library has been initialised in this
  // process; tested and set in one step by the first connection that asks for
  // TLS, so it is initialised only once.
  std::atomic<int> tls_initialized{0};
};

// The one process-wide instance.
WorkerState& GetWorkerState();

}  // namespace wendrel

#endif  // WENDREL_DIRECTORY_WORKER_STATE_H_
