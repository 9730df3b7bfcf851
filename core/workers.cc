#include "core/workers.h"

#include <atomic>
#include <memory>
#include <string>

#include "config/ldap_server.h"
#include "core/worker_state.h"
#include "directory/ldap_conn.h"
#include "platform/ldap.h"
#include "platform/trace.h"

namespace wendrel {
namespace {

// Sets the network time-out on a connection that has no handle yet, which
// makes it the library-wide default for the handles created afterwards.
void SetNetworkTimeout(LDAPConn& conn, int32_t seconds) {
  platform::LdapTimeval timeout{};
  timeout.tv_sec = seconds;
  timeout.tv_usec = 0;
  conn.SetOption(platform::kLdapOptNetworkTimeout, &timeout);
}

// The server walk of the worker. Returns normally when the walk ends, a stop
// request is seen, or a failure is thrown; the caller tells them apart only
// by `stopped`.
void InitializeTlsServers(bool* stopped) {
  WorkerState& state = GetWorkerState();
  std::unique_ptr<LDAPServer> server(new LDAPServer());
  std::string name = server->FirstServer();
  while (!name.empty()) {
    if (!server->UseSSL()) {
      name = server->NextServer();
      continue;
    }
    std::unique_ptr<LDAPConn> conn(new LDAPConn(true));
    // Checked only now, after the connection (and with it, the first time,
    // the TLS client library) exists: that is where a stop ends the worker.
    if (state.stop_requested.load() != 0) {
      *stopped = true;
      return;
    }
    SetNetworkTimeout(*conn, server->ConnectionTimeout());
    bool bound = conn->BindToServer(name, server->Port(), server->UseSSL(),
                                    server->Certificate(), server->ProxyUsername(),
                                    server->ProxyPassword());
    name = server->NextServer();
    conn.reset();
    // A refused bind once TLS is up says the servers are not ready: the
    // search will meet them soon enough, so the worker stops spending time.
    if (!bound && state.tls_initialized.load() != 0) break;
  }
}

}  // namespace

uint32_t SSL_InitializeThread(void* parameter) {
  WorkerState& state = GetWorkerState();
  if (state.start_pending.exchange(0) == 0) {
    state.worker_running.store(1);
    state.stop_requested.store(0);
  }
  bool stopped = false;
  try {
    InitializeTlsServers(&stopped);
  } catch (const LDAPServer::BadReg&) {
    platform::Trace("TLS start-up: server list missing\n");
  } catch (int message_id) {
    platform::Trace("TLS start-up: message %d\n", message_id);
  } catch (const std::string& text) {
    platform::Trace("TLS start-up: %s\n", text.c_str());
  } catch (...) {
    // The worker has nobody to report to; the search reports its own failures.
    platform::Trace("TLS start-up: unexpected failure\n");
  }
  if (stopped) {
    // Ended on request: whoever asked owns the handle.
    state.worker_running.store(0);
    return 0;
  }
  state.worker_running.store(0);
  // Ending by itself, the worker clears the slot as its last act and, since
  // nobody else will, closes its own handle. Taking the handle out in one
  // atomic step means a concurrent stop either took it first (and waits on
  // it) or finds the slot empty: the handle is closed exactly once.
  platform::ThreadHandle own = state.thread_handle.exchange(nullptr);
  if (own != nullptr) platform::CloseThreadHandle(own);
  return 0;
}

namespace {
std::atomic<uint32_t> g_connectivity_pause_ms{kConnectivityPauseMs};
}  // namespace

void SetConnectivityPauseForTesting(uint32_t pause_ms) { g_connectivity_pause_ms.store(pause_ms); }

int WaitForConnectivity() {
  return WaitForConnectivity(kConnectivityPasses, g_connectivity_pause_ms.load());
}

int WaitForConnectivity(int passes, uint32_t pause_ms) {
  try {
    std::unique_ptr<LDAPServer> server(new LDAPServer());
    // One connection for every attempt; each quick bind replaces the handle
    // of the one before (the connection ends a handle it no longer uses).
    std::unique_ptr<LDAPConn> conn(new LDAPConn(true));
    bool connected = false;
    for (int pass = 0; pass < passes && !connected; ++pass) {
      for (std::string name = server->FirstServer(); !name.empty();
           name = server->NextServer()) {
        if (conn->QuickBind(name, server->Port(), server->UseSSL(), server->Certificate(),
                            server->ProxyUsername(), server->ProxyPassword())) {
          connected = true;
          break;
        }
      }
      platform::Sleep(pause_ms);
    }
  } catch (const LDAPServer::BadReg&) {
    platform::Trace("connectivity wait: server list missing\n");
  } catch (int message_id) {
    platform::Trace("connectivity wait: message %d\n", message_id);
  } catch (const std::string& text) {
    platform::Trace("connectivity wait: %s\n", text.c_str());
  } catch (...) {
    platform::Trace("connectivity wait: unexpected failure\n");
  }
  return 0;
}

void StartWorker() {
  WorkerState& state = GetWorkerState();
  if (state.thread_handle.load() != nullptr || state.worker_running.load() != 0) return;
  // The worker's first step, done for it before it exists (see start_pending).
  state.stop_requested.store(0);
  state.worker_running.store(1);
  state.start_pending.store(1);
  uint32_t id = 0;
  platform::ThreadHandle thread = platform::CreateThread(SSL_InitializeThread, nullptr, &id);
  if (thread == nullptr) {
    state.start_pending.store(0);
    state.worker_running.store(0);
    return;
  }
  state.thread_id.store(id);
  // A worker that ends before this store finds the slot empty and leaves
  // its handle here; the terminate event closes it then, or the unload
  // (ExitInstance) gives it up.
  state.thread_handle.store(thread);
}

platform::ThreadHandle StopWorker(uint32_t timeout_ms) {
  WorkerState& state = GetWorkerState();
  state.stop_requested.store(1);
  platform::ThreadHandle thread = state.thread_handle.load();
  if (thread == nullptr || state.worker_running.load() == 0) return nullptr;
  // Claimed before the wait: if the worker ended by itself meanwhile it took
  // (and closed) the handle, the claim fails and there is nothing to wait for.
  if (!state.thread_handle.compare_exchange_strong(thread, nullptr)) return nullptr;
  if (platform::WaitForThread(thread, timeout_ms) == platform::kWaitTimeout) {
    platform::Trace("worker did not stop within %u ms: ending it\n", timeout_ms);
    if (platform::TerminateThread(thread, 0)) {
      // Really gone (Windows): nobody else will clear its flags.
      state.start_pending.store(0);
      state.worker_running.store(0);
    }
  }
  return thread;
}

void WaitForWorkerToEnd(uint32_t timeout_ms) {
  WorkerState& state = GetWorkerState();
  platform::ThreadHandle thread = state.thread_handle.exchange(nullptr);
  if (thread == nullptr) return;
  if (platform::WaitForThread(thread, timeout_ms) == platform::kWaitObject0) {
    platform::CloseThreadHandle(thread);
  } else {
    state.thread_handle.store(thread);
  }
}

void CloseWorkerHandle() {
  platform::ThreadHandle thread = GetWorkerState().thread_handle.exchange(nullptr);
  if (thread != nullptr) platform::CloseThreadHandle(thread);
}

}  // namespace wendrel
