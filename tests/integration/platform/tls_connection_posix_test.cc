// The native LDAP port's TLS connections against real slapd servers: which
// trusted file a connection takes, and how a refused certificate is
// reported.

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "gtest/gtest.h"
#include "platform/ldap.h"
#include "platform/ldap_owners.h"
#include "tests/integration/support/directory_fixture.h"

namespace wendrel {
namespace platform {
namespace {

// The tree name read over a TLS connection to `server`, or "refused".
std::string TreeOverTls(const testing::DirectoryServer& server) {
  LdapHandleOwner ld(LdapSslInit(server.host.c_str(), server.tls_port, 1));
  if (ld == nullptr || LdapSimpleBind(ld.get(), "", "") == -1) return "refused";
  char attribute[] = "directoryTreeName";
  char* attributes[] = {attribute, nullptr};
  LdapMessage* raw = nullptr;
  const int rc = LdapSearchExtS(ld.get(), "", kLdapScopeBase, "(objectClass=*)", attributes, 0,
                                nullptr, nullptr, nullptr, 0, &raw);
  LdapMessageOwner result(raw);
  if (rc != kLdapSuccess) return "refused";
  LdapValuesOwner values(LdapGetValues(ld.get(), LdapFirstEntry(ld.get(), result.get()),
                                       attribute));
  return values != nullptr && values.get()[0] != nullptr ? values.get()[0] : "no tree name";
}

// The sequence that a process-wide trusted file gets wrong: one thread
// adds its server's file, another thread adds another file, then each opens
// its connection. Each is checked against the file it added itself.
TEST(TlsConnectionTest, EachThreadConnectsWithTheFileItAdded) {
  testing::DirectoryFixture dir;
  ASSERT_TRUE(dir.Start({"Good:tls=good", "Other:tls=otherca"})) << dir.error();
  LdapSslClientDeinit();  // no thread has a file
  ASSERT_EQ(LdapSslClientInit(nullptr, nullptr), 0);
  const LdapTimeval timeout = {10, 0};
  LdapSetOption(nullptr, kLdapOptNetworkTimeout, &timeout);
  std::mutex mutex;
  std::condition_variable changed;
  int added = 0;  // how many threads have added their file
  std::map<std::string, std::string> trees;
  auto connect = [&](size_t server, const std::string& file, int turn) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return added == turn; });
    const int rc = LdapSslAddTrustedCert(file.c_str(), kLdapCertFilePem);
    ++added;
    changed.notify_all();
    changed.wait(lock, [&] { return added == 2; });
    lock.unlock();
    const std::string tree = rc == 0 ? TreeOverTls(dir.server(server)) : "file not added";
    lock.lock();
    trees[dir.server(server).tree] = tree;
  };
  std::thread first(connect, 0, dir.CaCertPath(), 0);
  std::thread second(connect, 1, dir.OtherCaCertPath(), 1);
  first.join();
  second.join();
  // This thread added no file: none of the others' is its.
  trees["(no file added)"] = TreeOverTls(dir.server(0));
  LdapSetOption(nullptr, kLdapOptNetworkTimeout, nullptr);
  LdapSslClientDeinit();
  const std::map<std::string, std::string> expected = {
      {"Good", "Good"}, {"Other", "Other"}, {"(no file added)", "refused"}};
  EXPECT_EQ(expected, trees);
}

// A TLS server whose certificate the trusted file does not vouch for fails
// the first bind with the connect error, whether or not a network time-out
// is set: libldap itself reports such a handshake as "server down", which
// would make the server look unreachable. Where nothing listens it stays
// "server down".
//
// The result code of the first bind on a TLS handle to host:port.
int FirstBindCode(const std::string& host, int port) {
  LdapHandleOwner ld(LdapSslInit(host.c_str(), port, 1));
  if (ld == nullptr) return -1;
  if (LdapSimpleBind(ld.get(), "", "") != -1) return kLdapSuccess;
  int code = 0;
  LdapGetOption(ld.get(), kLdapOptResultCode, &code);
  return code;
}

TEST(TlsConnectionTest, RefusedCertificateIsAConnectErrorWithOrWithoutANetworkTimeout) {
  testing::DirectoryFixture dir;
  ASSERT_TRUE(dir.Start({"Other:tls=otherca", "Old:tls=expired", "Wrong:tls=wronghost"}))
      << dir.error();
  ASSERT_EQ(LdapSslClientInit(nullptr, nullptr), 0);
  ASSERT_EQ(LdapSslAddTrustedCert(dir.CaCertPath().c_str(), kLdapCertFilePem), 0);
  const LdapTimeval five_seconds = {5, 0};
  std::map<std::string, int> codes;
  for (const LdapTimeval* timeout : {&five_seconds, static_cast<const LdapTimeval*>(nullptr)}) {
    LdapSetOption(nullptr, kLdapOptNetworkTimeout, timeout);
    const std::string with = timeout != nullptr ? " with a time-out" : " without";
    for (size_t i = 0; i < dir.server_count(); ++i) {
      codes[dir.server(i).tree + with] = FirstBindCode(dir.server(i).host, dir.server(i).tls_port);
    }
    codes["closed" + with] = FirstBindCode(dir.closed_host(), dir.closed_port());
  }
  LdapSetOption(nullptr, kLdapOptNetworkTimeout, nullptr);
  LdapSslClientDeinit();
  const std::map<std::string, int> expected = {
      {"Other with a time-out", kLdapConnectError}, {"Other without", kLdapConnectError},
      {"Old with a time-out", kLdapConnectError},   {"Old without", kLdapConnectError},
      {"Wrong with a time-out", kLdapConnectError}, {"Wrong without", kLdapConnectError},
      {"closed with a time-out", kLdapServerDown},  {"closed without", kLdapServerDown},
  };
  EXPECT_EQ(expected, codes);
}

}  // namespace
}  // namespace platform
}  // namespace wendrel
