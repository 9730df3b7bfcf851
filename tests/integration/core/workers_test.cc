// The start-up worker and the connectivity wait against real slapd servers:
// how they end, what they leave in the shared worker state, and how long
// they take.

#include "core/workers.h"

#include <atomic>
#include <chrono>

#include "config/registry_paths.h"
#include "core/wendrel_app.h"
#include "core/worker_state.h"
#include "gtest/gtest.h"
#include "tests/integration/search/search_fixture.h"

namespace wendrel {
namespace testing {
namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class WorkersTest : public SearchTest {
 protected:
  void SetUp() override {
    SearchTest::SetUp();
    WorkerState& state = GetWorkerState();
    ASSERT_EQ(state.thread_handle.load(), nullptr);
    state.worker_running.store(0);
    state.stop_requested.store(0);
  }
  void TearDown() override {
    platform::ThreadHandle thread = StopWorker(5000);
    if (thread != nullptr) platform::CloseThreadHandle(thread);
    CloseWorkerHandle();
    SearchTest::TearDown();
  }

  // Waits until the worker has ended by itself (slot cleared, not running).
  bool WorkerEndsWithin(double seconds) {
    auto start = std::chrono::steady_clock::now();
    WorkerState& state = GetWorkerState();
    while (SecondsSince(start) < seconds) {
      if (state.worker_running.load() == 0 && state.thread_handle.load() == nullptr) return true;
      platform::Sleep(10);
    }
    return false;
  }
};

TEST_F(WorkersTest, WorkerEndsByItselfAndClearsItsSlot) {
  ASSERT_TRUE(dir_.Start({"A", "B:tls=good"})) << dir_.error();
  ServerConfig tls;
  tls.host = dir_.server(1).host;
  tls.port = dir_.server(1).tls_port;
  tls.use_ssl = true;
  tls.certificate = dir_.CaCertPath();
  SetServers({Plain(0), tls});

  StartWorker();
  EXPECT_NE(GetWorkerState().thread_id.load(), 0u);
  ASSERT_TRUE(WorkerEndsWithin(10));
  EXPECT_EQ(GetWorkerState().tls_initialized.load(), 1);
  // Nothing left to wait for at shutdown.
  EXPECT_EQ(StopWorker(5000), nullptr);
}

TEST_F(WorkersTest, OnlyClearTextServersOrNoServerListEndAtOnce) {
  ASSERT_TRUE(dir_.Start({"A"})) << dir_.error();
  SetServers({Plain(0)});
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SSL_InitializeThread(nullptr), 0u);
  EXPECT_LT(SecondsSince(start), 1.0);
  EXPECT_EQ(GetWorkerState().worker_running.load(), 0);

  DeleteTree(kServersKeyPath);  // LDAPServer::BadReg, swallowed
  EXPECT_EQ(SSL_InitializeThread(nullptr), 0u);
  EXPECT_EQ(GetWorkerState().worker_running.load(), 0);
}

TEST_F(WorkersTest, StopRightAfterCreationIsNeitherLostNorSkipped) {
  ASSERT_TRUE(dir_.Start({"A"})) << dir_.error();
  // A TLS server that never answers: binding to it would cost the whole
  // connection time-out.
  ServerConfig silent;
  silent.host = dir_.silent_host();
  silent.port = dir_.silent_port();
  silent.use_ssl = true;
  silent.connection_timeout = 4;
  SetServers({silent});

  auto start = std::chrono::steady_clock::now();
  StartWorker();
  platform::ThreadHandle thread = StopWorker(10000);
  // The stop waited (the handle was taken) and the worker ended on it, right
  // after its first connection, without the bind.
  ASSERT_NE(thread, nullptr);
  platform::CloseThreadHandle(thread);
  EXPECT_LT(SecondsSince(start), 2.0);
  EXPECT_EQ(GetWorkerState().worker_running.load(), 0);
  EXPECT_EQ(GetWorkerState().stop_requested.load(), 1);
}

// A worker that ended before its handle was stored left the handle in the
// slot, where nobody waits for it. The unload clears the slot without
// closing the handle (it did not wait); natively the thread is reaped, so no
// handle is left behind, while on Windows the handle stays open as before.
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
  for (int i = 0; i < 500 && ended.load() == 0; ++i) platform::Sleep(10);
  ASSERT_EQ(ended.load(), 1);
  GetWorkerState().thread_handle.store(thread);  // stored after the worker's end

  {
    CWendrelApp app;  // no host module loaded here: it starts nothing
    app.ExitInstance();
  }
  EXPECT_EQ(GetWorkerState().thread_handle.load(), nullptr);
  EXPECT_EQ(platform::OutstandingThreadHandles(), before);
#ifdef _WIN32
  // Not closed: the handle still names the ended thread (and stays open
  // until this process ends, as it would in the login host).
  EXPECT_EQ(platform::WaitForThread(thread, 0), platform::kWaitObject0);
#endif
}

TEST_F(WorkersTest, ConnectivityWaitEndsAtTheFirstAnswerOrAfterItsPasses) {
  ASSERT_TRUE(dir_.Start({"A"})) << dir_.error();
  ServerConfig closed;
  closed.host = dir_.closed_host();
  closed.port = dir_.closed_port();
  SetServers({closed, Plain(0)});
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForConnectivity(35, 300), 0);
  double answered = SecondsSince(start);
  EXPECT_GE(answered, 0.29);
  EXPECT_LT(answered, 1.5);  // one pass, one pause

  DeleteTree(kServersKeyPath);  // the list is replaced, not overwritten
  SetServers({closed});
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForConnectivity(3, 200), 0);
  double unanswered = SecondsSince(start);
  EXPECT_GE(unanswered, 0.59);
  EXPECT_LT(unanswered, 5.0);
}

}  // namespace
}  // namespace testing
}  // namespace wendrel
