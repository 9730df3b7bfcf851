// The retry memory of "Unreachable Server Retry Seconds" and the rule that
// it never takes every server out of a walk.

#include "directory/unreachable_servers.h"

#include <string>
#include <vector>

#include "directory/server_probe.h"
#include "gtest/gtest.h"
#include "platform/ldap.h"
#include "platform/threads.h"
#include "search/server_failover.h"

namespace wendrel {
namespace {

class UnreachableServersTest : public ::testing::Test {
 protected:
  void SetUp() override { memory().Clear(); }
  void TearDown() override { memory().Clear(); }
  static UnreachableServers& memory() { return UnreachableServers::Instance(); }
};

TEST_F(UnreachableServersTest, RememberedUntilForgottenExpiredOrCleared) {
  const std::string a = UnreachableServerKey("ldap1", 389, false);
  EXPECT_FALSE(memory().IsRemembered(a));
  memory().Remember(a, 60);
  EXPECT_TRUE(memory().IsRemembered(a));
  // Another port, or TLS on the same host, is another server.
  EXPECT_FALSE(memory().IsRemembered(UnreachableServerKey("ldap1", 390, false)));
  EXPECT_FALSE(memory().IsRemembered(UnreachableServerKey("ldap1", 389, true)));
  memory().Forget(a);
  EXPECT_FALSE(memory().IsRemembered(a));

  memory().Remember(a, 0);   // off
  memory().Remember(a, -5);  // a negative value reads as off too
  EXPECT_FALSE(memory().IsRemembered(a));

  memory().Remember(a, 1);
  EXPECT_TRUE(memory().IsRemembered(a));
  platform::Sleep(1100);
  EXPECT_FALSE(memory().IsRemembered(a));

  memory().Remember(a, 60);
  memory().Clear();
  EXPECT_FALSE(memory().IsRemembered(a));
}

TEST_F(UnreachableServersTest, OnlyUnansweredCodesMeanUnreachable) {
  EXPECT_TRUE(IsUnansweredCode(platform::kLdapServerDown));
  EXPECT_TRUE(IsUnansweredCode(platform::kLdapTimeout));
  // A refused certificate, bad credentials: the server said something.
  EXPECT_FALSE(IsUnansweredCode(platform::kLdapConnectError));
  EXPECT_FALSE(IsUnansweredCode(platform::kLdapInvalidCredentials));
  EXPECT_FALSE(IsUnansweredCode(platform::kLdapSuccess));
}

TEST_F(UnreachableServersTest, AllRememberedMeansAllTried) {
  std::vector<ServerEndpoint> servers(3);
  for (size_t i = 0; i < servers.size(); ++i) servers[i].host = "s" + std::to_string(i);
  EXPECT_EQ(std::vector<bool>({false, false, false}), ServerFailover::RememberedToSkip(servers));
  memory().Remember(servers[0].Key(), 60);
  memory().Remember(servers[2].Key(), 60);
  EXPECT_EQ(std::vector<bool>({true, false, true}), ServerFailover::RememberedToSkip(servers));
  memory().Remember(servers[1].Key(), 60);
  EXPECT_EQ(std::vector<bool>({false, false, false}), ServerFailover::RememberedToSkip(servers));
  EXPECT_TRUE(ServerFailover::RememberedToSkip({}).empty());
}

// The worker and the login thread report at once.
TEST_F(UnreachableServersTest, ConcurrentReportsKeepTheMapWhole) {
  struct Shared {
    static uint32_t Hammer(void* parameter) {
      const std::string key = *static_cast<std::string*>(parameter);
      for (int i = 0; i < 2000; ++i) {
        UnreachableServers::Instance().Remember(key, 60);
        UnreachableServers::Instance().IsRemembered(key);
        UnreachableServers::Instance().Forget(key);
      }
      UnreachableServers::Instance().Remember(key, 60);
      return 0;
    }
  };
  std::string first = UnreachableServerKey("w", 1, false);
  std::string second = UnreachableServerKey("l", 2, false);
  platform::ThreadOwner a(platform::CreateThread(Shared::Hammer, &first, nullptr));
  platform::ThreadOwner b(platform::CreateThread(Shared::Hammer, &second, nullptr));
  ASSERT_EQ(platform::kWaitObject0, platform::WaitForThread(a.get(), 30000));
  ASSERT_EQ(platform::kWaitObject0, platform::WaitForThread(b.get(), 30000));
  EXPECT_TRUE(memory().IsRemembered(first));
  EXPECT_TRUE(memory().IsRemembered(second));
}

}  // namespace
}  // namespace wendrel
