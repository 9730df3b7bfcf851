#include "core/workers.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "config/ldap_config_options.h"
#include "config/ldap_server.h"
#include "directory/ldap_conn.h"
#include "directory/server_probe.h"
#include "directory/unreachable_servers.h"
#include "directory/worker_state.h"
#include "platform/ldap.h"
#include "platform/trace.h"
#include "search/server_failover.h"

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

// The administrator's failover options, as far as the worker uses them.
// The worker runs without them when the options key cannot be read: the
// search will report that.
struct WorkerFailover {
  bool probe = false;
  int32_t retry_seconds = 0;
  // The retry memory's generation when the worker started: once terminate
  // has cleared the memory, a worker it gave up waiting for reports nothing.
  uint64_t generation = 0;
};

WorkerFailover ReadFailoverOptions() {
  WorkerFailover failover;
  failover.generation = UnreachableServers::Instance().Generation();
  try {
    LDAPConfigOptions options;
    failover.probe = options.ProbeServersInParallel();
    failover.retry_seconds = options.UnreachableServerRetrySeconds();
  } catch (const LDAPConfigOptions::BadReg&) {
  }
  return failover;
}

// The retry memory hears how each bind of the worker went: a server the
// worker reaches (or whose certificate it refuses) is forgotten, one it
// cannot reach is remembered.
void NoteWorkerBind(const ServerEndpoint& server, const LDAPConn& conn,
                    const WorkerFailover& failover) {
  if (failover.retry_seconds <= 0) return;
  UnreachableServers& memory = UnreachableServers::Instance();
  if (conn.LastBindAnswered() || conn.LastBindCertificateRefused()) {
    memory.Forget(server.Key(), failover.generation);
  }
  if (conn.LastBindUnreachable()) {
    memory.Remember(server.Key(), failover.retry_seconds, failover.generation);
  }
}

// The worker's walk with "Probe Servers In Parallel": every TLS server is
// probed at once, then the outcomes are taken in list order exactly as the
// sequential binds would have come, a failed probe counting as a failed
// bind. The probes end early on a stop request.
void InitializeTlsServersInParallel(LDAPServer& server, const WorkerFailover& failover,
                                    bool* stopped) {
  WorkerState& state = GetWorkerState();
  std::vector<ServerEndpoint> tls_servers;
  for (std::string name = server.FirstServer(); !name.empty(); name = server.NextServer()) {
    if (server.UseSSL()) tls_servers.push_back(CurrentEndpoint(name, server));
  }
  if (tls_servers.empty()) return;
  // Starts the TLS client, which the probes' TLS connections need.
  std::unique_ptr<LDAPConn> conn(new LDAPConn(true));
  if (state.stop_requested.load() != 0) {
    *stopped = true;
    return;
  }
  ServerProbes probes(tls_servers, &state.stop_requested);
  probes.Wait();
  if (state.stop_requested.load() != 0) {
    *stopped = true;
    return;
  }
  ServerFailover::RememberProbeOutcomes(tls_servers, probes, failover.retry_seconds,
                                       failover.generation);
  for (size_t i = 0; i < tls_servers.size(); ++i) {
    const ServerEndpoint& s = tls_servers[i];
    bool bound = !probes.Failed(i);
    if (probes.Outcome(i) == ProbeOutcome::kLeftToTheWalk) {
      // The probe could not start; the sequential step meets the same fault
      // and throws it.
      SetNetworkTimeout(*conn, s.connection_timeout);
      bound = conn->BindToServer(s.host, s.port, s.use_ssl, s.certificate, s.bind_dn,
                                 s.password);
      NoteWorkerBind(s, *conn, failover);
    }
    if (!bound && state.tls_initialized.load() != 0) break;
  }
}

// The server walk of the worker. Returns normally when the walk ends, a stop
// request is seen, or a failure is thrown; the caller tells them apart only
// by `stopped`.
void InitializeTlsServers(bool* stopped) {
  WorkerState& state = GetWorkerState();
  std::unique_ptr<LDAPServer> server(new LDAPServer());
  const WorkerFailover failover = ReadFailoverOptions();
  if (failover.probe) {
    InitializeTlsServersInParallel(*server, failover, stopped);
    return;
  }
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
    if (failover.retry_seconds > 0) {
      NoteWorkerBind(CurrentEndpointKey(name, *server), *conn, failover);
    }
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
std::atomic<uint32_t> g_worker_stop_timeout_ms{kWorkerStopTimeoutMs};
}  // namespace

void SetConnectivityPauseForTesting(uint32_t pause_ms) { g_connectivity_pause_ms.store(pause_ms); }

uint32_t TerminateWorkerStopTimeoutMs() { return g_worker_stop_timeout_ms.load(); }

void SetWorkerStopTimeoutForTesting(uint32_t timeout_ms) {
  g_worker_stop_timeout_ms.store(timeout_ms);
}

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
