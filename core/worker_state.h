// WorkerState: what the login thread and the start-up worker share. Each value
// is a single machine word read and written atomically, without a lock.

#ifndef WENDREL_CORE_WORKER_STATE_H_
#define WENDREL_CORE_WORKER_STATE_H_

#include <atomic>
#include <cstdint>

namespace wendrel {

struct WorkerState {
  // The worker thread's handle (the threads port's object), null when none.
  std::atomic<void*> thread_handle{nullptr};
  std::atomic<uint32_t> thread_id{0};
  std::atomic<int> worker_running{0};
  std::atomic<int> stop_requested{0};
  // Non-zero once the TLS client library has been initialised in this
  // process; tested and set in one step by the first connection that asks for
  // TLS, so it is initialised only once.
  std::atomic<int> tls_initialized{0};
};

// The one process-wide instance.
WorkerState& GetWorkerState();

}  // namespace wendrel

#endif  // WENDREL_CORE_WORKER_STATE_H_
