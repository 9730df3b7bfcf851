// QZLG_TERMINATE clears the retry memory of "Unreachable Server Retry
// Seconds". Natively a start-up worker that outlives terminate's wait cannot
// be ended: it goes on to the end of its bind, and what it then reports must
// not refill the memory of the session that follows.

#include <string>

#include "core/login_host.h"
#include "core/workers.h"
#include "directory/unreachable_servers.h"
#include "directory/worker_state.h"
#include "gtest/gtest.h"
#include "tests/integration/core/host_double.h"
#include "tests/integration/search/search_fixture.h"

namespace wendrel {
namespace testing {
namespace {

class TerminateRetryMemoryTest : public HostedLoginTest {
 protected:
  void TearDown() override {
    SetWorkerStopTimeoutForTesting(kWorkerStopTimeoutMs);
    HostedLoginTest::TearDown();
  }
};

TEST_F(TerminateRetryMemoryTest, WorkerStillBindingAfterTerminateRemembersNothing) {
  ASSERT_TRUE(dir_.Start({"A:tls=good"})) << dir_.error();
  SetOptions({{"Unreachable Server Retry Seconds", 60}});
  ServerConfig silent;  // a TLS server that never answers: the bind takes 2 s
  silent.host = dir_.silent_host();
  silent.port = dir_.silent_port();
  silent.use_ssl = true;
  silent.connection_timeout = 2;
  silent.certificate = dir_.CaCertPath();
  SetServers({silent});
  const std::string key = UnreachableServerKey(silent.host, silent.port, true);
  WorkerState& state = GetWorkerState();
  ASSERT_EQ(state.thread_handle.load(), nullptr);

  SetWorkerStopTimeoutForTesting(200);
  StartWorker();
  platform::Sleep(300);  // past its stop check and into the bind
  HostRecord record("asmith", "A");
  Send(kEventTerminate, record);
  ASSERT_NE(state.worker_running.load(), 0) << "the worker ended within terminate's wait";
  EXPECT_FALSE(UnreachableServers::Instance().IsRemembered(key));

  // The worker's bind times out now, and it reports the server unreachable.
  for (int i = 0; i < 600 && state.worker_running.load() != 0; ++i) platform::Sleep(10);
  ASSERT_EQ(state.worker_running.load(), 0);
  EXPECT_FALSE(UnreachableServers::Instance().IsRemembered(key));
}

}  // namespace
}  // namespace testing
}  // namespace wendrel
