// The extension's whole lifecycle, over and over, as the login host runs it:
// load the host module and the extension (handshake, worker start), the
// start event, sometimes a search, then QZLG_TERMINATE at a random moment of
// the start-up worker's life; then unload. The library is never unmapped
// (-z nodelete), so each cycle runs in a child forked from this
// single-threaded process: a real first load, a real unload (ExitInstance
// at exit), checked by the build's sanitizer at the child's exit.

#include <dlfcn.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <string>

#include "config/registry_paths.h"
#include "core/login_host.h"
#include "gtest/gtest.h"
#include "host/host_stand_in.h"
#include "platform/environment.h"
#include "tests/integration/core/host_double.h"

namespace wendrel {
namespace testing {
namespace {

// Sanitizer builds pay tens (thread) to hundreds (address: the leak scan at
// exit) of milliseconds a cycle, so they run fewer to stay near a minute.
// $WENDREL_STRESS_CYCLES overrides the count.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kDefaultCycles = 60;
#elif defined(__SANITIZE_THREAD__)
constexpr int kDefaultCycles = 100;
#else
constexpr int kDefaultCycles = 1000;
#endif
// Terminate waits for the worker at most one bind to a silent server (1 s),
// the tab-data search as long again, plus start-up under a sanitizer.
constexpr int kCycleLimitMs = 20000;

enum class Moment { kAtOnce, kAfterDelay, kAfterSearch };

struct Cycle {
  Moment moment;
  unsigned delay_us;
};

// The child's whole life: 0 when every step did what the host expects.
int RunCycle(const Cycle& cycle) {
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
  if (cycle.moment == Moment::kAfterDelay) usleep(cycle.delay_us);
  if (cycle.moment == Moment::kAfterSearch) {
    send(kEventTabData);
    // The search waited for the worker and found the one user.
    if (record.Text(kStartInfoContext) != "eng.A") return 14;
  }
  send(kEventTerminate);
  dlclose(extension);
  dlclose(host);
  return 0;
}

// "" when the child exits with 0 within limit_ms, else what went wrong; a
// child still running then is killed.
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
  const ServerConfig tls = Tls(1);
  const ServerConfig silent = SilentTls();  // completes the TCP handshake, never answers
  SetTrees({"A", "B"});
  SetOptions({{"Contextless Login Enabled", 1}});
  // Most cycles give the worker only the plain server A (it ends at once, so
  // terminate meets it anywhere in its short life); every tenth a TLS server
  // to bind to first; every fiftieth the silent listener after that, where
  // terminate finds it waiting. A answers the searches.
  const std::vector<std::vector<ServerConfig>> lists = {
      {Plain(0)}, {tls, Plain(0)}, {tls, silent, Plain(0)}};
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
    Cycle cycle;
    cycle.moment = static_cast<Moment>(random() % 3);
    cycle.delay_us = random() % (list == kStuck ? 400000 : 20000);
    std::fflush(nullptr);  // a child must not write out our buffered output again
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // exit, not _exit: the library's unload (ExitInstance) and the
      // sanitizers' exit checks run there.
      std::exit(RunCycle(cycle));
    }
    const std::string verdict = ChildVerdict(child, kCycleLimitMs);
    if (!verdict.empty()) {
      ++failures;
      ADD_FAILURE() << "cycle " << i << " (moment " << static_cast<int>(cycle.moment) << ", "
                    << cycle.delay_us << " us, server list " << list << "): " << verdict;
    }
  }
  std::printf("%d of %d cycles in %.1f s\n", i, cycles, SecondsSince(start));
}

}  // namespace
}  // namespace testing
}  // namespace wendrel
