// The two routines that make the network ready before a user search:
// SSL_InitializeThread, the start-up worker that initialises the TLS client
// library and binds once to each TLS server off the login host's thread, and
// WaitForConnectivity, the bounded wait of the search event until some server
// accepts a bind. Neither reports anything to the user. Also the worker's
// start and stop, which the application object and the driver share.

#ifndef WENDREL_CORE_WORKERS_H_
#define WENDREL_CORE_WORKERS_H_

#include <cstdint>

#include "platform/threads.h"

namespace wendrel {

constexpr uint32_t kWorkerStopTimeoutMs = 15000;
// How long the terminate event waits for parallel probes still running; each
// ends by its server's connection time-out at the latest.
constexpr uint32_t kProbeShutdownWaitMs = 15000;
constexpr int kConnectivityPasses = 35;
constexpr uint32_t kConnectivityPauseMs = 1000;

// Thread procedure; ignores its parameter and ends with exit code 0 on every
// way out, swallowing every failure.
uint32_t SSL_InitializeThread(void* parameter);

// Returns 0 after some configured server accepted a quick bind, or after all
// passes; every failure ends the wait silently.
int WaitForConnectivity();
// The same with the number of passes and the pause after each one given.
int WaitForConnectivity(int passes, uint32_t pause_ms);

// Tests of the search event: the pause after each pass of the driver's
// wait (kConnectivityPauseMs until set), so that its 35 passes can run out
// in a few seconds. Not for production use.
void SetConnectivityPauseForTesting(uint32_t pause_ms);

// How long the terminate event waits for the start-up worker before it
// ends it forcibly: kWorkerStopTimeoutMs unless a test shortened it with
// SetWorkerStopTimeoutForTesting (not for production use), so that a worker
// outliving the wait can be shown in seconds.
uint32_t TerminateWorkerStopTimeoutMs();
void SetWorkerStopTimeoutForTesting(uint32_t timeout_ms);

// Starts SSL_InitializeThread on a thread of its own unless a worker handle
// is stored or the worker is running. The handle (null when creation failed)
// and id go into WorkerState.
void StartWorker();

// Asks the worker to stop and, when a worker handle is stored and the worker
// is running, waits at most timeout_ms for it and ends it forcibly after
// that. When the wait ran, the handle is taken out of the slot and returned
// for the caller to close; otherwise null is returned and the slot is left
// as it was.
platform::ThreadHandle StopWorker(uint32_t timeout_ms = kWorkerStopTimeoutMs);

// The search path's wait: when a worker handle is stored, waits at most
// timeout_ms for the worker to end; the outcome is ignored. The handle is
// held out of the slot during the wait, so a worker ending meanwhile cannot
// close it under the wait: it finds the slot empty, and the handle is closed
// here instead. A worker still running gets its handle back.
void WaitForWorkerToEnd(uint32_t timeout_ms);

// Takes whatever handle is stored out of the slot and closes it.
void CloseWorkerHandle();

}  // namespace wendrel

#endif  // WENDREL_CORE_WORKERS_H_
