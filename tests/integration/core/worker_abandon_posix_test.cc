// A worker that outlives the stop's wait is ended forcibly; natively it is
// abandoned instead and must finish on its own without touching anything
// freed: its handle is closed while it still runs.

#include <chrono>

#include "core/worker_state.h"
#include "core/workers.h"
#include "gtest/gtest.h"
#include "tests/integration/search/search_fixture.h"

namespace wendrel {
namespace testing {
namespace {

using WorkerAbandonTest = SearchTest;

TEST_F(WorkerAbandonTest, AWorkerThatOutlivesTheWaitIsAbandonedAndEndsLater) {
  ASSERT_TRUE(dir_.Start({"A:tls=good"})) << dir_.error();
  ServerConfig silent;  // TLS server that never answers: the bind takes 2 s
  silent.host = dir_.silent_host();
  silent.port = dir_.silent_port();
  silent.use_ssl = true;
  silent.connection_timeout = 2;
  silent.certificate = dir_.CaCertPath();
  SetServers({silent});
  WorkerState& state = GetWorkerState();
  ASSERT_EQ(state.thread_handle.load(), nullptr);

  StartWorker();
  // Let it get past its stop check and into the bind.
  platform::Sleep(300);
  auto start = std::chrono::steady_clock::now();
  platform::ThreadHandle thread = StopWorker(200);
  ASSERT_NE(thread, nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
  platform::CloseThreadHandle(thread);
  EXPECT_EQ(state.thread_handle.load(), nullptr);

  // Still running on its own, then done: it never sees the slot again.
  for (int i = 0; i < 600 && state.worker_running.load() != 0; ++i) platform::Sleep(10);
  EXPECT_EQ(state.worker_running.load(), 0);
  EXPECT_EQ(state.thread_handle.load(), nullptr);
}

}  // namespace
}  // namespace testing
}  // namespace wendrel
