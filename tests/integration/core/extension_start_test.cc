// The extension's initialisation in a process whose login host never
// completes the handshake: the host module lacks QZLoginExtInit, or its
// QZLoginExtInit refuses. No callback is installed and the kept table stays
// empty, yet the start-up worker and the reachability check are started all
// the same. The host modules are core/host_variants/, loaded by path; the
// extension finds them by the host module's name.

#include <chrono>
#include <cstring>
#include <string>

#include "core/wendrel_app.h"
#include "core/worker_state.h"
#include "core/workers.h"
#include "directory/reachability.h"
#include "gtest/gtest.h"
#include "platform/icmp.h"
#include "platform/modules.h"
#include "tests/integration/search/search_fixture.h"

namespace wendrel {
namespace testing {
namespace {

using HandshakeCallsFn = int32_t (*)();

class ExtensionStartTest : public SearchTest {
 protected:
  void SetUp() override {
    SearchTest::SetUp();
    WorkerState& state = GetWorkerState();
    ASSERT_EQ(state.thread_handle.load(), nullptr);
    state.thread_id.store(0);
    state.tls_initialized.store(0);
    ResetKeptHostTableForTesting();
    ClosePing();
    // Whether this process may ping at all (natively: ICMP sockets).
    ping_possible_ = platform::PingService::Start() != nullptr;
  }
  void TearDown() override {
    platform::ThreadHandle thread = StopWorker(5000);
    if (thread != nullptr) platform::CloseThreadHandle(thread);
    CloseWorkerHandle();
    ClosePing();
    SearchTest::TearDown();
  }

  // Loads the host module at `path`, runs the initialisation and checks
  // that nothing was installed but the worker and the ping service started.
  // Returns the module's count of handshake calls.
  int32_t StartWithHost(const char* path) {
    ServerConfig tls;
    tls.host = dir_.server(0).host;
    tls.port = dir_.server(0).tls_port;
    tls.use_ssl = true;
    tls.certificate = dir_.CaCertPath();
    SetServers({tls});
    SetOptions({{"Contextless Login Enabled", 1}});

    std::string error;
    platform::Module host = platform::Module::Load(path, &error);
    EXPECT_TRUE(host.is_open()) << error;
    if (!host.is_open()) return -1;
    InitLoginExtension();

    unsigned char empty[kHostServiceTableSize] = {};
    EXPECT_EQ(std::memcmp(KeptHostTable(), empty, sizeof empty), 0);
    EXPECT_EQ(ChainedHandler(), nullptr);
    EXPECT_NE(GetWorkerState().thread_id.load(), 0u);
    // The worker ran its walk: it started the TLS client for the server.
    auto start = std::chrono::steady_clock::now();
    while (GetWorkerState().worker_running.load() != 0 &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
      platform::Sleep(10);
    }
    EXPECT_EQ(GetWorkerState().worker_running.load(), 0);
    EXPECT_EQ(GetWorkerState().tls_initialized.load(), 1);
    EXPECT_EQ(PingAvailable(), ping_possible_);
    auto calls = reinterpret_cast<HandshakeCallsFn>(host.Symbol("WendrelHostVariantHandshakeCalls"));
    return calls != nullptr ? calls() : -1;
  }

  bool ping_possible_ = false;
};

TEST_F(ExtensionStartTest, HostWithoutHandshakeExportStillGetsWorkerAndPing) {
  ASSERT_TRUE(dir_.Start({"A:tls=good"})) << dir_.error();
  EXPECT_EQ(StartWithHost(WENDREL_HOST_WITHOUT_INIT_PATH), 0);
}

TEST_F(ExtensionStartTest, RefusedHandshakeStillGetsWorkerAndPing) {
  ASSERT_TRUE(dir_.Start({"A:tls=good"})) << dir_.error();
  EXPECT_EQ(StartWithHost(WENDREL_HOST_REFUSING_PATH), 1);
}

}  // namespace
}  // namespace testing
}  // namespace wendrel
