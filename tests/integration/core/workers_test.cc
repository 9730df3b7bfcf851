// The start-up worker and the connectivity wait against real slapd servers,
// the extension's start and its library's load and lifecycle.

#include "core/workers.h"

#ifndef _WIN32
#include <dlfcn.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "host/host_stand_in.h"
#endif

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "config/registry_paths.h"
#include "directory/reachability.h"
#include "directory/server_probe.h"
#include "directory/unreachable_servers.h"
#include "directory/worker_state.h"
#include "gtest/gtest.h"
#include "platform/icmp.h"
#include "platform/ldap.h"
#include "platform/ldap_owners.h"
#include "platform/modules.h"
#include "results/user_data.h"
#include "search/ldap_search_user.h"
#include "tests/integration/core/host_double.h"

namespace wendrel {
namespace testing {
namespace {

// Whether `done` holds within `seconds`, polled every 10 ms.
bool Within(double seconds, const std::function<bool()>& done) {
  const auto start = std::chrono::steady_clock::now();
  while (!done() && SecondsSince(start) < seconds) platform::Sleep(10);
  return done();
}

class WorkersTest : public SearchTest {
 protected:
  void SetUp() override {
    SearchTest::SetUp();
    ASSERT_EQ(GetWorkerState().thread_handle.load(), nullptr);
    ResetWorker();
  }
  void TearDown() override {
    ResetWorker();
    SearchTest::TearDown();
  }
  void ResetWorker() {
    platform::ThreadHandle thread = StopWorker(5000);
    if (thread != nullptr) platform::CloseThreadHandle(thread);
    CloseWorkerHandle();
    WorkerState& state = GetWorkerState();
    state.worker_running.store(0);
    state.stop_requested.store(0);
    state.thread_id.store(0);
    state.tls_initialized.store(0);
  }

  // running, stop requested, TLS initialised and whether the slot is empty.
  static std::tuple<int, int, int, bool> State() {
    WorkerState& state = GetWorkerState();
    return {state.worker_running.load(), state.stop_requested.load(),
            state.tls_initialized.load(), state.thread_handle.load() == nullptr};
  }
};

// Whether the server recorded a bind as `dn` (pwdLastSuccess, with lastbind=on).
bool BoundAs(const DirectoryServer& server, const std::string& dn) {
  platform::LdapHandleOwner ld(platform::LdapInit(server.host.c_str(), server.port));
  int version = 3;
  if (ld == nullptr) return false;
  platform::LdapSetOption(ld.get(), platform::kLdapOptProtocolVersion, &version);
  // An anonymous bind first: it is what opens the connection.
  const platform::LdapTimeval wait = {5, 0};
  platform::LdapMessage* result = nullptr;
  const int msgid = platform::LdapSimpleBind(ld.get(), "", "");
  if (msgid != -1) platform::LdapResult(ld.get(), msgid, 1, &wait, &result);
  platform::LdapMessageOwner bind_result(result);
  char attribute[] = "pwdLastSuccess";
  char* attributes[] = {attribute, nullptr};
  platform::LdapMessage* found = nullptr;
  const int status = platform::LdapSearchExtS(ld.get(), dn.c_str(), platform::kLdapScopeBase,
                                              "(objectClass=*)", attributes, 0, nullptr, nullptr,
                                              nullptr, 0, &found);
  platform::LdapMessageOwner found_owner(found);
  platform::LdapMessage* entry =
      status == platform::kLdapSuccess ? platform::LdapFirstEntry(ld.get(), found) : nullptr;
  platform::LdapValuesOwner values(
      entry != nullptr ? platform::LdapGetValues(ld.get(), entry, attribute) : nullptr);
  return values != nullptr && values.get()[0] != nullptr;
}

TEST_F(WorkersTest, BindsTlsServersInListOrderAndStopsAtTheFirstRefusal) {
#ifdef _WIN32
  GTEST_SKIP() << "TLS binds need a verifiable server certificate";
#endif
  // Three TLS servers, each with two proxy entries that record their binds.
  std::vector<std::string> specs;
  for (const std::string tree : {"T0", "T1", "T2"}) {
    std::string ldif = "dn: o=" + tree + "\nobjectClass: organization\no: " + tree + "\n";
    for (const std::string cn : {"proxy1", "proxy2"}) {
      ldif += "\ndn: cn=" + cn + ",o=" + tree + "\nobjectClass: person\ncn: " + cn + "\nsn: " +
              cn + "\nuserPassword: pw\n";
    }
    specs.push_back(tree + ":tls=good:lastbind=on:ldif=" + WriteLdif(tree, ldif));
  }
  ASSERT_TRUE(dir_.Start(specs)) << dir_.error();
  auto tls = [&](size_t i, const std::string& proxy) {
    ServerConfig server = Tls(i);
    server.proxy_username = "cn=" + proxy + "," + dir_.server(i).suffix;
    server.proxy_password = "pw";
    return server;
  };
  auto bound = [&](const std::string& proxy, std::vector<size_t> servers) {
    std::vector<bool> found;
    for (size_t i : servers) found.push_back(BoundAs(dir_.server(i), tls(i, proxy).proxy_username));
    return found;
  };

  // Every server accepts: each is bound, one after the other.
  SetServers({tls(0, "proxy1"), tls(1, "proxy1"), tls(2, "proxy1")});
  EXPECT_EQ(SSL_InitializeThread(nullptr), 0u);
  EXPECT_EQ(bound("proxy1", {0, 1, 2}), std::vector<bool>({true, true, true}));
  EXPECT_EQ(GetWorkerState().tls_initialized.load(), 1);

  // The second refuses (nothing listens there): the worker stops before the third.
  ServerConfig refusing = tls(1, "proxy2");
  refusing.host = dir_.closed_host();
  refusing.port = dir_.closed_port();
  ReplaceServers({tls(0, "proxy2"), refusing, tls(2, "proxy2")});
  EXPECT_EQ(SSL_InitializeThread(nullptr), 0u);
  EXPECT_EQ(bound("proxy2", {0, 2}), std::vector<bool>({true, false}));
}

// A TLS server that never answers: the stop must not wait for its bind's
// time-out, right after the worker's creation or during the parallel probe.
TEST_F(WorkersTest, StopRightAfterCreationOrDuringTheParallelProbeEndsTheWorkerAtOnce) {
  ASSERT_TRUE(dir_.Start({"A:tls=good"})) << dir_.error();
  for (bool parallel : {false, true}) {
    SCOPED_TRACE(parallel ? "parallel probe" : "right after creation");
#ifdef _WIN32
    // Wine's wldap32 does not bound a TLS handshake with a silent peer.
    if (parallel) continue;
#endif
    ServerConfig silent = SilentTls(parallel ? 3 : 4);
    if (!parallel) silent.certificate.clear();
    ReplaceServers(parallel ? std::vector<ServerConfig>{silent, silent}
                            : std::vector<ServerConfig>{silent});
    SetOptions({{"Probe Servers In Parallel", parallel ? 1 : 0}});
    ResetWorker();
    auto start = std::chrono::steady_clock::now();
    StartWorker();
    if (parallel) platform::Sleep(500);  // the probes are waiting on the handshakes by now
    platform::ThreadHandle thread = StopWorker(10000);
    // The stop waited (the handle was taken) and the worker ended on it.
    ASSERT_NE(thread, nullptr);
    platform::CloseThreadHandle(thread);
    EXPECT_LT(SecondsSince(start), 2.0);
    EXPECT_EQ(std::make_tuple(0, 1), std::make_tuple(GetWorkerState().worker_running.load(),
                                                      GetWorkerState().stop_requested.load()));
    // The probes end by their own time-out; the terminate event waits for them.
    EXPECT_TRUE(!parallel || WaitForProbesToEnd(10000));
    EXPECT_LT(SecondsSince(start), 5.0);
  }
}

// A worker that ended before its handle was stored left it in the slot: the
// unload clears the slot without closing the handle (it did not wait).
TEST_F(WorkersTest, UnloadClearsTheSlotOfAWorkerThatEndedBeforeItsHandleWasStored) {
  static std::atomic<int> ended{0};
  ended.store(0);
  const size_t before = platform::OutstandingThreadHandles();
  platform::ThreadHandle thread = platform::CreateThread(
      [](void*) -> uint32_t {
        ended.store(1);
        return 0;
      },
      nullptr, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_TRUE(Within(5, [] { return ended.load() == 1; }));
  GetWorkerState().thread_handle.store(thread);  // stored after the worker's end

  {
    CWendrelApp app;  // no host module loaded here: it starts nothing
    app.ExitInstance();
  }
  EXPECT_EQ(GetWorkerState().thread_handle.load(), nullptr);
  EXPECT_EQ(platform::OutstandingThreadHandles(), before);
#ifdef _WIN32
  // Not closed: the handle still names the ended thread.
  EXPECT_EQ(platform::WaitForThread(thread, 5000), platform::kWaitObject0);
#endif
}

// The worker forgets what it reached and remembers what it could not.
TEST_F(WorkersTest, WorkerReportsToTheRetryMemory) {
#ifdef _WIN32
  GTEST_SKIP() << "under Wine a TLS server with a certificate file is refused before it is "
                  "contacted (the trusted file cannot be applied), so the worker reaches none";
#endif
  ASSERT_TRUE(dir_.Start({"A:tls=good"})) << dir_.error();
  const ServerConfig good = Tls(0);
  ServerConfig closed = good;
  closed.host = dir_.closed_host();
  closed.port = dir_.closed_port();
  SetServers({good, closed});
  const std::string good_key = UnreachableServerKey(good.host, good.port, true);
  const std::string closed_key = UnreachableServerKey(closed.host, closed.port, true);
  UnreachableServers& memory = UnreachableServers::Instance();
  for (uint32_t probe : {0u, 1u}) {
    SCOPED_TRACE(probe ? "with the probe" : "without the probe");
    SetOptions({{"Probe Servers In Parallel", probe}, {"Unreachable Server Retry Seconds", 60}});
    memory.Clear();
    memory.Remember(good_key, 60);
    EXPECT_EQ(SSL_InitializeThread(nullptr), 0u);
    EXPECT_EQ(std::make_tuple(0, false, true),
              std::make_tuple(GetWorkerState().worker_running.load(),
                              memory.IsRemembered(good_key), memory.IsRemembered(closed_key)));
  }
}

// One pass that reaches the second server, then its pause; or every pass.
TEST_F(WorkersTest, ConnectivityWaitEndsAtTheFirstAnswerOrAfterItsPasses) {
  ASSERT_TRUE(dir_.Start({"A"})) << dir_.error();
  auto seconds = [](int passes, uint32_t pause_ms) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForConnectivity(passes, pause_ms), 0);
    return SecondsSince(start);
  };
  SetServers({Closed(), Plain(0)});
  const double answered = seconds(35, 300);
  ReplaceServers({Closed()});
  const double unanswered = seconds(3, 200);
  EXPECT_TRUE(answered >= 0.29 && answered < 1.5) << answered;
  EXPECT_TRUE(unanswered >= 0.59 && unanswered < 5.0) << unanswered;
}

// A host module without QZLoginExtInit, or whose QZLoginExtInit refuses
// (host_variants/): no callback, yet the worker and the ping service start.
TEST_F(WorkersTest, HostWithoutOrRefusingTheHandshakeStillGetsWorkerAndPing) {
  ASSERT_TRUE(dir_.Start({"A:tls=good"})) << dir_.error();
  SetServers({Tls(0)});
  SetOptions({{"Contextless Login Enabled", 1}});
  const struct {
    const char* path;
    int32_t handshake_calls;
  } kHosts[] = {{WENDREL_HOST_WITHOUT_INIT_PATH, 0}, {WENDREL_HOST_REFUSING_PATH, 1}};
  for (const auto& host_variant : kHosts) {
    SCOPED_TRACE(host_variant.path);
    ResetWorker();
    ResetKeptHostTableForTesting();
    ClosePing();
    const bool ping_possible = platform::PingService::Start() != nullptr;
    std::string error;
    platform::Module host = platform::Module::Load(host_variant.path, &error);
    ASSERT_TRUE(host.is_open()) << error;
    InitLoginExtension();

    unsigned char empty[kHostServiceTableSize] = {};
    EXPECT_EQ(std::memcmp(KeptHostTable(), empty, sizeof empty), 0);
    EXPECT_EQ(ChainedHandler(), nullptr);
    EXPECT_NE(GetWorkerState().thread_id.load(), 0u);
    // The worker started TLS for the server, ended and cleared its slot.
    Within(10, [] { return std::get<0>(State()) == 0 && std::get<3>(State()); });
    const auto state = State();  // before the stop below
    EXPECT_EQ(std::make_tuple(state, PingAvailable(), StopWorker(5000)),
              std::make_tuple(std::make_tuple(0, 0, 1, true), ping_possible,
                              static_cast<platform::ThreadHandle>(nullptr)));
    auto calls = reinterpret_cast<int32_t (*)()>(host.Symbol("WendrelHostVariantHandshakeCalls"));
    ASSERT_NE(calls, nullptr);
    EXPECT_EQ(calls(), host_variant.handshake_calls);
  }
  ClosePing();
}

#ifndef _WIN32
// The whole lifecycle as the login host runs it, over and over: load, start
// event, maybe a search, terminate at a random moment of the worker's life,
// unload. The library is never unmapped (-z nodelete), so each cycle is a
// child forked before any test here loads it; the sanitizers check its exit.
// Sanitizer builds run fewer cycles; $WENDREL_STRESS_CYCLES overrides them.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kDefaultCycles = 60;
#elif defined(__SANITIZE_THREAD__)
constexpr int kDefaultCycles = 100;
#else
constexpr int kDefaultCycles = 1000;
#endif

enum class Moment { kAtOnce, kAfterDelay, kAfterSearch };

// The child's whole life: 0 when every step did what the host expects.
int RunCycle(Moment moment, unsigned delay_us) {
  void* host = dlopen(WENDREL_HOST_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  if (host == nullptr) return 10;
  auto configure = reinterpret_cast<WendrelHostConfigureFn>(dlsym(host, host::kConfigureExport));
  auto table = reinterpret_cast<WendrelHostServiceTableFn>(dlsym(host, host::kServiceTableExport));
  auto handle = reinterpret_cast<WendrelHostHandleFn>(dlsym(host, host::kHandleExport));
  if (configure == nullptr || table == nullptr || handle == nullptr) return 11;
  configure(1, 0);

  void* extension = dlopen(WENDREL_EXTENSION_PATH, RTLD_NOW | RTLD_LOCAL);
  if (extension == nullptr) return 12;
  HostRecord record("asmith", "A");
  auto send = [&](uint32_t event) {
    HostEventHandler handler = LoadEventHandler(table());
    return handler != nullptr ? handler(handle(), event, 0, 0, record.data(), 0, 0) : -1;
  };
  if (LoadEventHandler(table()) == nullptr) return 13;  // no handshake

  send(kEventStart);
  if (moment == Moment::kAfterDelay) usleep(delay_us);
  if (moment == Moment::kAfterSearch) {
    send(kEventTabData);
    // The search waited for the worker and found the one user.
    if (record.Text(kStartInfoContext) != "eng.A") return 14;
  }
  send(kEventTerminate);
  dlclose(extension);
  dlclose(host);
  return 0;
}

// "" when the child exits with 0 within limit_ms, else what went wrong.
std::string ChildVerdict(pid_t child, int limit_ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  int status = 0;
  pid_t done;
  while ((done = waitpid(child, &status, WNOHANG)) == 0) {
    if (std::chrono::steady_clock::now() > end) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return "did not end in time";
    }
    usleep(1000);
  }
  if (done < 0) return "waitpid failed";
  if (WIFEXITED(status)) {
    return WEXITSTATUS(status) == 0 ? "" : "exit status " + std::to_string(WEXITSTATUS(status));
  }
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  return "status " + std::to_string(status);
}

class LifecycleStressTest : public SearchTest {};

TEST_F(LifecycleStressTest, LoadEventTerminateUnloadWithTheWorkerAnywhere) {
  int cycles = kDefaultCycles;
  if (const char* text = std::getenv("WENDREL_STRESS_CYCLES")) cycles = std::atoi(text);
  // The servers must outlive every cycle, over a second each under a sanitizer.
  DirectoryFixture::StartLimits limits;
  limits.lifetime = std::chrono::seconds(300 + 2 * cycles);
  ASSERT_TRUE(dir_.Start({"A", "B:tls=good"}, limits)) << dir_.error();
  SetTrees({"A", "B"});
  SetOptions({{"Contextless Login Enabled", 1}});
  // Mostly the plain server A (a short worker life); every tenth a TLS server
  // first, every fiftieth the silent listener after it, where terminate waits.
  const std::vector<std::vector<ServerConfig>> lists = {
      {Plain(0)}, {Tls(1), Plain(0)}, {Tls(1), SilentTls(), Plain(0)}};
  enum { kQuick, kBusy, kStuck };

  std::mt19937 random(static_cast<unsigned>(std::random_device()()));
  int failures = 0;
  int current = -1;
  auto start = std::chrono::steady_clock::now();
  int i = 0;
  for (; i < cycles && failures < 3; ++i) {
    const int list = i % 50 == 25 ? kStuck : i % 10 == 5 ? kBusy : kQuick;
    if (list != current) {
      DeleteTree(kServersKeyPath);
      SetServers(lists[list]);
      current = list;
    }
    const auto moment = static_cast<Moment>(random() % 3);
    const unsigned delay_us = random() % (list == kStuck ? 400000 : 20000);
    std::fflush(nullptr);  // a child must not write out our buffered output again
    pid_t child = fork();
    ASSERT_GE(child, 0);
    // exit, not _exit: the unload and the sanitizers' checks run there.
    if (child == 0) std::exit(RunCycle(moment, delay_us));
    const std::string verdict = ChildVerdict(child, 20000);
    if (!verdict.empty()) {
      ++failures;
      ADD_FAILURE() << "cycle " << i << " (moment " << static_cast<int>(moment) << ", "
                    << delay_us << " us, server list " << list << "): " << verdict;
    }
  }
  std::printf("%d of %d cycles in %.1f s\n", i, cycles, SecondsSince(start));
}

// Natively a worker that outlives the stop's wait is abandoned, its handle
// closed while it runs; it must end without touching anything freed.
using WorkerAbandonTest = WorkersTest;

TEST_F(WorkerAbandonTest, AWorkerThatOutlivesTheWaitIsAbandonedAndEndsLater) {
  ASSERT_TRUE(dir_.Start({"A:tls=good"})) << dir_.error();
  SetServers({SilentTls(2)});  // the bind takes 2 s
  StartWorker();
  platform::Sleep(300);  // past its stop check and into the bind
  auto start = std::chrono::steady_clock::now();
  platform::ThreadHandle thread = StopWorker(200);
  ASSERT_NE(thread, nullptr);
  EXPECT_LT(SecondsSince(start), 1.5);
  platform::CloseThreadHandle(thread);
  EXPECT_EQ(GetWorkerState().thread_handle.load(), nullptr);

  // Still running on its own, then done: it never sees the slot again.
  EXPECT_TRUE(Within(6, [] { return GetWorkerState().worker_running.load() == 0; }));
  EXPECT_EQ(GetWorkerState().thread_handle.load(), nullptr);
}
#endif  // _WIN32

// Without a login host the library loads and unloads cleanly, and exports
// its two registration entry points and nothing of its own code.
using ExtensionLibraryTest = RegistryTest;

TEST_F(ExtensionLibraryTest, LoadsWithoutAHostAndExportsOnlyRegistration) {
  SetDword(kOptionsKeyPath, "Contextless Login Enabled", 1);
  for (int round = 0; round < 2; ++round) {
    std::string error;
    platform::Module library = platform::Module::Load(WENDREL_EXTENSION_PATH, &error);
    ASSERT_TRUE(library.is_open()) << error;
    // The extension's own functions and the static libraries' stay inside.
    std::vector<std::string> exported;
    for (const char* name : {"DllRegisterServer", "DllUnregisterServer",
                             "_ZN7wendrel14GetWorkerStateEv", "LoginExtCallback",
                             "_ZN7wendrel16LoginExtCallbackEPvjjjS0_mj",
                             "_ZN7wendrel8platform9TickCountEv"}) {
      if (library.Symbol(name) != nullptr) exported.push_back(name);
    }
    EXPECT_EQ(exported, std::vector<std::string>({"DllRegisterServer", "DllUnregisterServer"}));
    EXPECT_FALSE(platform::Module::FindLoaded(platform::ModuleFileName("LGQZNT32")).is_open());
  }
}

// A refused certificate (of another CA; under Wine every one with a file) is
// never remembered as unreachable, by the search or the worker, and one
// remembered from an outage is forgotten.
using CertificateFailureMemoryTest = WorkersTest;

TEST_F(CertificateFailureMemoryTest, RefusedCertificateIsNeverRememberedAsUnreachable) {
  ASSERT_TRUE(dir_.Start({"A:tls=otherca"})) << dir_.error();
  const ServerConfig refused = Tls(0);  // the fixture CA did not issue its certificate
  SetServers({refused});
  const std::string key = UnreachableServerKey(refused.host, refused.port, true);
  UnreachableServers& memory = UnreachableServers::Instance();
  // Per probe mode: after a search, then a search and the worker after outages.
  std::vector<bool> remembered;
  for (uint32_t probe : {0u, 1u}) {
    SetOptions({{"Probe Servers In Parallel", probe}, {"Unreachable Server Retry Seconds", 60}});
    memory.Clear();
    for (int run = 0; run < 3; ++run) {
      if (run > 0) memory.Remember(key, 60);
      if (run < 2) {
        UserData request("jdoe", "A");
        EXPECT_THROW(LDAPSearchUser().SearchForAUser(request), std::string);
      } else {
        EXPECT_EQ(SSL_InitializeThread(nullptr), 0u);
      }
      remembered.push_back(memory.IsRemembered(key));
    }
  }
  EXPECT_EQ(remembered, std::vector<bool>(6, false));
}


}  // namespace
}  // namespace testing
}  // namespace wendrel
