// A server whose TLS certificate is refused is skipped as a certificate
// failure, never remembered as unreachable by the retry memory of
// "Unreachable Server Retry Seconds": not by the user search, not by the
// start-up worker, with the parallel probe or without. One remembered from
// an earlier outage is forgotten once it is seen to present a certificate.
// On both builds: natively the server presents a certificate of another CA
// and the handshake refuses it; under Wine the port refuses every TLS
// server with a certificate file before contacting it (the file cannot be
// applied there), which is a certificate failure too.

#include <map>
#include <string>

#include "core/workers.h"
#include "directory/server_probe.h"
#include "directory/unreachable_servers.h"
#include "directory/worker_state.h"
#include "gtest/gtest.h"
#include "results/user_data.h"
#include "search/ldap_search_user.h"
#include "tests/integration/search/search_fixture.h"

namespace wendrel {
namespace testing {
namespace {

class CertificateFailureMemoryTest : public SearchTest {
 protected:
  void SetUp() override {
    SearchTest::SetUp();
    WorkerState& state = GetWorkerState();
    state.worker_running.store(0);
    state.stop_requested.store(0);
    UnreachableServers::Instance().Clear();
  }
  void TearDown() override {
    EXPECT_TRUE(WaitForProbesToEnd(10000));
    UnreachableServers::Instance().Clear();
    SearchTest::TearDown();
  }
};

TEST_F(CertificateFailureMemoryTest, RefusedCertificateIsNeverRememberedAsUnreachable) {
  ASSERT_TRUE(dir_.Start({"A:tls=otherca"})) << dir_.error();
  const ServerConfig refused = Tls(0);  // the fixture CA did not issue its certificate
  SetServers({refused});
  const std::string key = UnreachableServerKey(refused.host, refused.port, true);

  std::map<std::string, bool> remembered;
  for (uint32_t probe : {0u, 1u}) {
    const std::string mode = probe ? " with the probe" : " without the probe";
    SetOptions({{"Probe Servers In Parallel", probe}, {"Unreachable Server Retry Seconds", 60}});

    UnreachableServers::Instance().Clear();
    {
      UserData request("jdoe", "A");
      LDAPSearchUser search;
      EXPECT_THROW(search.SearchForAUser(request), std::string);
    }
    remembered["search" + mode] = UnreachableServers::Instance().IsRemembered(key);

    // Remembered from an outage: the only server, so it is tried all the same.
    UnreachableServers::Instance().Remember(key, 60);
    {
      UserData request("jdoe", "A");
      LDAPSearchUser search;
      EXPECT_THROW(search.SearchForAUser(request), std::string);
    }
    remembered["search after an outage" + mode] = UnreachableServers::Instance().IsRemembered(key);

    UnreachableServers::Instance().Remember(key, 60);
    EXPECT_EQ(SSL_InitializeThread(nullptr), 0u);
    remembered["start-up worker after an outage" + mode] =
        UnreachableServers::Instance().IsRemembered(key);
  }
  const std::map<std::string, bool> expected = {
      {"search with the probe", false},
      {"search without the probe", false},
      {"search after an outage with the probe", false},
      {"search after an outage without the probe", false},
      {"start-up worker after an outage with the probe", false},
      {"start-up worker after an outage without the probe", false},
  };
  EXPECT_EQ(expected, remembered);
}

}  // namespace
}  // namespace testing
}  // namespace wendrel
