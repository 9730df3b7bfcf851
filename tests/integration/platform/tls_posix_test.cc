// The native LDAP port's TLS connections against real slapd servers: which
// trusted file a connection takes, how a refused certificate is reported,
// and what an attacker presents (a self-signed copy of the trusted CA, a
// server certificate of a fake CA of the same subject and serial number, an
// honest chain through an intermediate CA): the connection is used only when
// the server's chain really reaches a certificate of the trusted file.

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "platform/ldap.h"
#include "platform/ldap_owners.h"
#include "tests/integration/support/directory_fixture.h"

namespace wendrel {
namespace platform {
namespace {

// The result code of the first bind on a TLS handle to host:port: 0 when
// the bind could be sent, so the TLS connection was made.
int FirstBindCode(const std::string& host, int port) {
  LdapHandleOwner ld(LdapSslInit(host.c_str(), port, 1));
  if (ld == nullptr) return -1;
  if (LdapSimpleBind(ld.get(), "", "") != -1) return kLdapSuccess;
  int code = 0;
  LdapGetOption(ld.get(), kLdapOptResultCode, &code);
  return code;
}

// The tree name of server `s` over TLS with `trusted_file` as the trusted
// certificate file, or "refused" when no TLS bind completed.
std::string TreeOverTls(const testing::DirectoryServer& s, const std::string& trusted_file) {
  if (LdapSslAddTrustedCert(trusted_file.c_str(), kLdapCertFilePem) != 0) return "no file";
  LdapHandleOwner ld(LdapSslInit(s.host.c_str(), s.tls_port, 1));
  if (ld == nullptr) return "no handle";
  const int msgid = LdapSimpleBind(ld.get(), "", "");
  LdapMessage* raw = nullptr;
  LdapTimeval wait = {5, 0};
  const int type = msgid == -1 ? -1 : LdapResult(ld.get(), msgid, 0, &wait, &raw);
  LdapMessageOwner bound(raw);
  if (type != kLdapResBind || LdapResult2Error(ld.get(), bound.get(), 0) != kLdapSuccess) {
    return "refused";
  }
  char attr[] = "directoryTreeName";
  char* attrs[] = {attr, nullptr};
  raw = nullptr;
  const int rc = LdapSearchExtS(ld.get(), "", kLdapScopeBase, "(objectClass=*)", attrs, 0,
                                nullptr, nullptr, nullptr, 0, &raw);
  LdapMessageOwner result(raw);
  if (rc != kLdapSuccess) return "search error " + std::to_string(rc);
  LdapMessage* entry = LdapFirstEntry(ld.get(), result.get());
  LdapValuesOwner values(entry != nullptr ? LdapGetValues(ld.get(), entry, attr) : nullptr);
  return values != nullptr && values.get()[0] != nullptr ? values.get()[0] : "no tree name";
}

class TlsConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LdapSslClientDeinit();  // no thread has a file
    ASSERT_EQ(LdapSslClientInit(nullptr, nullptr), 0);
  }
  void TearDown() override {
    LdapSetOption(nullptr, kLdapOptNetworkTimeout, nullptr);
    LdapSslClientDeinit();
  }
  int FirstBindCode(size_t server) {
    return platform::FirstBindCode(dir_.server(server).host, dir_.server(server).tls_port);
  }

  testing::DirectoryFixture dir_;
};

// The order a process-wide trusted file gets wrong: one thread adds its
// server's file, another thread adds another file, then each connects.
// Each is checked against the file it added itself.
TEST_F(TlsConnectionTest, EachThreadConnectsWithTheFileItAdded) {
  ASSERT_TRUE(dir_.Start({"Good:tls=good", "Other:tls=otherca"})) << dir_.error();
  const LdapTimeval timeout = {10, 0};
  LdapSetOption(nullptr, kLdapOptNetworkTimeout, &timeout);
  std::mutex mutex;
  std::condition_variable changed;
  int added = 0;
  std::map<std::string, int> codes;
  auto connect = [&](size_t server, const std::string& file, int turn) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return added == turn; });
    const bool ok = LdapSslAddTrustedCert(file.c_str(), kLdapCertFilePem) == 0;
    ++added;
    changed.notify_all();
    changed.wait(lock, [&] { return added == 2; });
    lock.unlock();
    const int code = ok ? FirstBindCode(server) : -1;
    lock.lock();
    codes[dir_.server(server).tree] = code;
  };
  std::thread first(connect, 0, dir_.CaCertPath(), 0);
  std::thread second(connect, 1, dir_.OtherCaCertPath(), 1);
  first.join();
  second.join();
  codes["this thread, which added none"] = FirstBindCode(0);
  const std::map<std::string, int> expected = {
      {"Good", kLdapSuccess}, {"Other", kLdapSuccess},
      {"this thread, which added none", kLdapConnectError}};
  EXPECT_EQ(expected, codes);
}

// A server whose certificate the trusted file does not vouch for fails the
// first bind with the connect error, whether or not a network time-out is
// set: libldap itself reports such a handshake as "server down", which
// would make the server look unreachable. Where nothing listens it stays
// "server down".
TEST_F(TlsConnectionTest, RefusedCertificateIsAConnectErrorWithOrWithoutANetworkTimeout) {
  ASSERT_TRUE(dir_.Start({"Other:tls=otherca", "Old:tls=expired", "Wrong:tls=wronghost"}))
      << dir_.error();
  ASSERT_EQ(LdapSslAddTrustedCert(dir_.CaCertPath().c_str(), kLdapCertFilePem), 0);
  const LdapTimeval five_seconds = {5, 0};
  std::map<std::string, int> codes;
  for (const LdapTimeval* timeout : {&five_seconds, static_cast<const LdapTimeval*>(nullptr)}) {
    LdapSetOption(nullptr, kLdapOptNetworkTimeout, timeout);
    const std::string with = timeout != nullptr ? " with a time-out" : " without";
    for (size_t i = 0; i < dir_.server_count(); ++i) {
      codes[dir_.server(i).tree + with] = FirstBindCode(i);
    }
    codes["closed" + with] = platform::FirstBindCode(dir_.closed_host(), dir_.closed_port());
  }
  const std::map<std::string, int> expected = {
      {"Other with a time-out", kLdapConnectError}, {"Other without", kLdapConnectError},
      {"Old with a time-out", kLdapConnectError},   {"Old without", kLdapConnectError},
      {"Wrong with a time-out", kLdapConnectError}, {"Wrong without", kLdapConnectError},
      {"closed with a time-out", kLdapServerDown},  {"closed without", kLdapServerDown},
  };
  EXPECT_EQ(expected, codes);
}

TEST_F(TlsConnectionTest, OnlyChainsThatReallyReachTheFileConnect) {
  ASSERT_TRUE(dir_.Start({"Good:tls=good", "Forged:tls=forgedca", "Fake:tls=fakeca",
                          "Chain:tls=chain", "Leaf:tls=forgedleaf"}))
      << dir_.error();
  int version = 3;
  ASSERT_EQ(LdapSetOption(nullptr, kLdapOptProtocolVersion, &version), kLdapSuccess);
  const std::string ca = dir_.CaCertPath();
  const std::string intermediate = dir_.IntermediateCertPath();
  const std::string with_forgery = dir_.CaWithForgeryPath();
  struct Case {
    size_t server;
    std::string trusted_file;
    std::string tree;
  };
  const std::vector<Case> cases = {
      {0, ca, "Good"},          {1, ca, "refused"},           {2, ca, "refused"},
      {3, ca, "Chain"},         {3, intermediate, "Chain"},   {0, intermediate, "refused"},
      {0, with_forgery, "Good"}, {1, with_forgery, "refused"}, {2, with_forgery, "Fake"},
      {4, ca, "refused"},
  };
  std::vector<std::string> expected;
  std::vector<std::string> seen;
  for (const Case& c : cases) {
    const std::string what = dir_.server(c.server).tree + " against " + c.trusted_file + ": ";
    expected.push_back(what + c.tree);
    seen.push_back(what + TreeOverTls(dir_.server(c.server), c.trusted_file));
  }
  EXPECT_EQ(expected, seen);
}

}  // namespace
}  // namespace platform
}  // namespace wendrel
