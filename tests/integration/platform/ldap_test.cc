// The LDAP port against real slapd servers: what the directory code relies
// on, on both builds (natively over libldap, on Windows over Wine's wldap32);
// and natively its TLS connections: which trusted file a connection takes,
// how a refused certificate is reported, and what an attacker presents (a
// self-signed copy of the trusted CA, a server certificate of a fake CA of
// the same subject and serial number, an honest chain through an
// intermediate CA): a connection is used only when the server's chain
// really reaches a certificate of the trusted file.

#include "platform/ldap.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "platform/ldap_owners.h"
#include "tests/integration/support/directory_fixture.h"

namespace wendrel {
namespace platform {
namespace {

using testing::DirectoryFixture;
using testing::DirectoryServer;
using Handle = LdapHandleOwner;
using Message = LdapMessageOwner;
using Strings = std::vector<std::string>;

// A port-allocated list as strings, released.
Strings TakeList(char** list) {
  Strings out;
  for (char** p = list; p != nullptr && *p != nullptr; ++p) out.push_back(*p);
  LdapValueFree(list);
  return out;
}

std::string Take(char* s) {
  std::string out = s != nullptr ? s : "";
  LdapMemFree(s);
  return out;
}

int ResultCode(LdapHandle* ld) {
  int code = -12345;
  EXPECT_EQ(LdapGetOption(ld, kLdapOptResultCode, &code), kLdapSuccess);
  return code;
}

using testing::SecondsSince;

// Starts a bind and waits up to `wait` for its response: the bind response's
// result code, or -1 when the bind could not be started or the wait failed,
// or -2 when nothing came in time.
int Bind(LdapHandle* ld, const char* dn = "", const char* password = "",
         LdapTimeval wait = {5, 0}) {
  int msgid = LdapSimpleBind(ld, dn, password);
  if (msgid == -1) return -1;
  LdapMessage* raw = nullptr;
  int type = LdapResult(ld, msgid, 0, &wait, &raw);
  Message msg(raw);
  if (type == 0) return -2;
  if (type != kLdapResBind) return -1;
  return LdapResult2Error(ld, msg.get(), 0);
}

// The tree name in the root DSE, as the directory code reads it.
std::string TreeName(LdapHandle* ld) {
  char attr[] = "directoryTreeName";
  char* attrs[] = {attr, nullptr};
  LdapMessage* raw = nullptr;
  int rc = LdapSearchExtS(ld, "", kLdapScopeBase, "(objectClass=*)", attrs, 0, nullptr, nullptr,
                          nullptr, 0, &raw);
  Message result(raw);
  if (rc != kLdapSuccess) return "error " + std::to_string(rc);
  LdapMessage* entry = LdapFirstEntry(ld, result.get());
  if (entry == nullptr) return "no entry";
  Strings values = TakeList(LdapGetValues(ld, entry, "directoryTreeName"));
  return values.empty() ? "no value" : values[0];
}

// A plain server, and TLS servers whose certificates are issued by the
// fixture CA (Good), by another CA (Other), expired (Old) or for another
// host (Wrong). (Binds to silent, frozen, stopped or restarted servers are
// proven through LDAPConn's tests and the user search's.)
const std::vector<std::string> kPlain = {"Acme"};
const std::vector<std::string> kTls = {"Good:tls=good", "Other:tls=otherca", "Old:tls=expired",
                                       "Wrong:tls=wronghost"};

class LdapPortTest : public ::testing::Test {
 protected:
  static void TearDownTestSuite() { testing::StopSharedDirectories(); }
  void SetUp() override {
    int version = 3;
    LdapSetOption(nullptr, kLdapOptProtocolVersion, &version);
    LdapSetOption(nullptr, kLdapOptNetworkTimeout, nullptr);
  }
  void TearDown() override { LdapSetOption(nullptr, kLdapOptNetworkTimeout, nullptr); }

  // The servers of `specs`, shared by the tests of the suite, which leave
  // them as they are.
  bool Use(const std::vector<std::string>& specs) {
    std::string error;
    dir_ = testing::SharedDirectory(specs, &error);
    EXPECT_EQ(error, "");
    return dir_ != nullptr;
  }
  const DirectoryServer& S(size_t i) const { return dir_->server(i); }
  Handle Open(size_t i) const { return Handle(LdapInit(S(i).host.c_str(), S(i).port)); }
  // Tree name over TLS, or "" when the TLS bind did not complete.
  std::string TlsTree(size_t i) const {
    Handle ld(LdapSslInit(S(i).host.c_str(), S(i).tls_port, 1));
    if (ld == nullptr) return "no handle";
    if (Bind(ld.get()) != kLdapSuccess) return "";
    return TreeName(ld.get());
  }

  DirectoryFixture* dir_ = nullptr;
};

TEST_F(LdapPortTest, BindsReadsTreeNameSearchesAndExplodesDns) {
  ASSERT_TRUE(Use(kPlain));
  Handle ld = Open(0);
  ASSERT_NE(ld, nullptr);
  int zero = 0, referrals = -1;
  EXPECT_EQ(LdapSetOption(ld.get(), kLdapOptDeref, &zero), kLdapSuccess);
  EXPECT_EQ(LdapSetOption(ld.get(), kLdapOptReferrals, &zero), kLdapSuccess);
  EXPECT_EQ(LdapGetOption(ld.get(), kLdapOptReferrals, &referrals), kLdapSuccess);
  EXPECT_EQ(referrals, 0);
  EXPECT_EQ(Bind(ld.get()), kLdapSuccess);
  EXPECT_EQ(TreeName(ld.get()), "Acme");

  // Values come back as people read them; with types, escaped where the DN
  // syntax needs it.
  const struct {
    const char* dn;
    int notypes;
    Strings parts;
  } explode[] = {
      {"cn=jdoe,ou=sales,o=Acme", 1, {"jdoe", "sales", "Acme"}},
      {"cn=jdoe,ou=sales,o=Acme", 0, {"cn=jdoe", "ou=sales", "o=Acme"}},
      {"cn=Zo\xC3\xAB+sn=X,ou=Doe\\, J,o=Acme", 1, {"Zo\xC3\xAB+X", "Doe, J", "Acme"}},
      {"cn=Zo\xC3\xAB,ou=Doe\\, J,o=Acme", 0, {"cn=Zo\xC3\xAB", "ou=Doe\\, J", "o=Acme"}},
  };
  for (const auto& test : explode) {
    EXPECT_EQ(TakeList(LdapExplodeDn(test.dn, test.notypes)), test.parts) << test.dn;
  }
  EXPECT_EQ(LdapExplodeDn("no dn here", 0), nullptr);

  // The bind response carries the server's verdict; a failed bind still
  // leaves a connection the root DSE can be read on.
  Handle good = Open(0), bad = Open(0);
  ASSERT_TRUE(good != nullptr && bad != nullptr);
  EXPECT_EQ(Bind(good.get(), S(0).admin_dn.c_str(), S(0).password.c_str()), kLdapSuccess);
  EXPECT_EQ(Bind(bad.get(), S(0).admin_dn.c_str(), "wrong"), kLdapInvalidCredentials);
  EXPECT_EQ(TreeName(bad.get()), "Acme");

  // The asynchronous search (what LDAPConn falls back on): the whole result
  // arrives as one chain whose code ldap_result2error reads. (The
  // synchronous one, its entries and its errors go through LDAPConn's tests.)
  int msgid = -1;
  LdapTimeval limit = {5, 0};
  ASSERT_EQ(LdapSearchExt(ld.get(), "o=Acme", kLdapScopeSubtree, "(uid=asmith)", nullptr, 0,
                          nullptr, nullptr, &limit, 0, &msgid),
            kLdapSuccess);
  LdapMessage* raw = nullptr;
  int type = LdapResult(ld.get(), msgid, 1, &limit, &raw);
  Message chain(raw);
  EXPECT_TRUE(type == kLdapResSearchEntry || type == kLdapResSearchResult) << type;
  EXPECT_EQ(LdapResult2Error(ld.get(), chain.get(), 0), kLdapSuccess);
  LdapMessage* entry = LdapFirstEntry(ld.get(), chain.get());
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(Take(LdapGetDn(ld.get(), entry)), "cn=asmith,ou=eng,o=Acme");
  EXPECT_EQ(LdapNextEntry(ld.get(), entry), nullptr);
}

TEST_F(LdapPortTest, NetworkTimeoutIsLibraryWideAndHandedOutAsACopy) {
  // The library-wide time-out as read back: "none" or "seconds.microseconds".
  auto library_wide = [] {
    LdapTimeval* tv = reinterpret_cast<LdapTimeval*>(1);
    if (LdapGetOption(nullptr, kLdapOptNetworkTimeout, &tv) != kLdapSuccess) {
      return std::string("error");
    }
    if (tv == nullptr) return std::string("none");
    std::string text = std::to_string(tv->tv_sec) + "." + std::to_string(tv->tv_usec);
    LdapMemFree(tv);
    return text;
  };
  EXPECT_EQ(library_wide(), "none");
  LdapTimeval set = {7, 250000};
  ASSERT_EQ(LdapSetOption(nullptr, kLdapOptNetworkTimeout, &set), kLdapSuccess);
  set.tv_sec = 99;  // the library keeps its own copy
  EXPECT_EQ(library_wide(), "7.250000");
  // Each read is a new allocation the caller frees.
  LdapTimeval* first = nullptr;
  LdapTimeval* second = nullptr;
  ASSERT_EQ(LdapGetOption(nullptr, kLdapOptNetworkTimeout, &first), kLdapSuccess);
  ASSERT_EQ(LdapGetOption(nullptr, kLdapOptNetworkTimeout, &second), kLdapSuccess);
  EXPECT_TRUE(first != nullptr && second != nullptr && first != second);
  LdapMemFree(first);
  LdapMemFree(second);

  // A handle's own time-out leaves the library-wide one alone, and is not
  // handed out.
  Handle ld(LdapInit("127.0.0.1", 389));
  ASSERT_NE(ld, nullptr);
  LdapTimeval own = {2, 0};
  EXPECT_EQ(LdapSetOption(ld.get(), kLdapOptNetworkTimeout, &own), kLdapSuccess);
  EXPECT_EQ(library_wide(), "7.250000");
  LdapTimeval* still = nullptr;
  EXPECT_EQ(LdapGetOption(ld.get(), kLdapOptNetworkTimeout, &still), kLdapParamError);
  ASSERT_EQ(LdapSetOption(nullptr, kLdapOptNetworkTimeout, nullptr), kLdapSuccess);
  EXPECT_EQ(library_wide(), "none");
}

TEST_F(LdapPortTest, ClosedPortAndBadArgumentsFailFast) {
  ASSERT_TRUE(Use(kPlain));
  auto start = std::chrono::steady_clock::now();
  Handle ld(LdapInit(dir_->closed_host().c_str(), dir_->closed_port()));
  ASSERT_NE(ld, nullptr);  // opening a handle does not connect yet
  EXPECT_EQ(Bind(ld.get(), "", "", {10, 0}), -1);
  EXPECT_LT(SecondsSince(start), 2.0);
  EXPECT_EQ(ResultCode(ld.get()), kLdapServerDown);

  // A handle that cannot be opened at all leaves its code for a null handle.
  EXPECT_EQ(LdapInit("127.0.0.1", 0), nullptr);
  EXPECT_EQ(ResultCode(nullptr), kLdapParamError);
  Handle fine(LdapInit("127.0.0.1", 389));
  EXPECT_EQ(ResultCode(nullptr), kLdapSuccess);
}

TEST_F(LdapPortTest, TlsHandshakeWithASilentPeerIsBoundedByTheNetworkTimeout) {
#ifdef _WIN32
  GTEST_SKIP() << "Wine's wldap32 runs the TLS handshake in libldap over GnuTLS and ignores "
                  "ldap_connect's time-out: against a silent TLS peer it does not return. "
                  "Windows bounds ldap_connect by the time-out; the native port is proven here";
#endif
  ASSERT_TRUE(Use(kTls));
  ASSERT_EQ(LdapSslAddTrustedCert(dir_->CaCertPath().c_str(), kLdapCertFilePem), 0);
  LdapTimeval one = {1, 0};
  ASSERT_EQ(LdapSetOption(nullptr, kLdapOptNetworkTimeout, &one), kLdapSuccess);
  // Bounded by the library-wide time-out, and by a handle's own one when no
  // library-wide one is set.
  for (bool own : {false, true}) {
    SCOPED_TRACE(own ? "the handle's own time-out" : "library-wide time-out");
    if (own) {
      ASSERT_EQ(LdapSetOption(nullptr, kLdapOptNetworkTimeout, nullptr), kLdapSuccess);
    }
    auto start = std::chrono::steady_clock::now();
    Handle ld(LdapSslInit(dir_->silent_host().c_str(), dir_->silent_port(), 1));
    ASSERT_NE(ld, nullptr);
    if (own) {
      ASSERT_EQ(LdapSetOption(ld.get(), kLdapOptNetworkTimeout, &one), kLdapSuccess);
    }
    // The handshake gets no answer: the bind cannot even be sent.
    EXPECT_EQ(Bind(ld.get(), "", "", {10, 0}), -1);
    double took = SecondsSince(start);
    EXPECT_GE(took, 0.8);
    EXPECT_LT(took, 4.0);
  }
  // The bound applies to setting the connection up only: a TLS connection
  // that is set up in time works as before, longer than the time-out.
  EXPECT_EQ(TlsTree(0), "Good");
  LdapSslClientDeinit();
}

TEST_F(LdapPortTest, TrustedCertificateFileIsChecked) {
  ASSERT_TRUE(Use(kTls));
  ASSERT_EQ(LdapSslClientInit(nullptr, nullptr), 0);
  EXPECT_NE(LdapSslAddTrustedCert((dir_->CaCertPath() + ".missing").c_str(), kLdapCertFilePem),
            0);
  EXPECT_NE(LdapSslAddTrustedCert(dir_->NonCertificatePath().c_str(), kLdapCertFilePem), 0);
  // The TLS servers' trees (Good, issued by the fixture CA; Other, by
  // another CA; Old, expired; Wrong, naming another host), as each file
  // trusts them: a DER file is the same trust as its PEM file, and a PEM
  // file of both CAs vouches for both.
  const struct {
    std::string file;
    Strings trees;
  } files[] = {
      {dir_->CaCertPath(), {"Good", "", "", ""}},
      {dir_->OtherCaCertPath(), {"", "Other", "", ""}},
      {dir_->CaCertDerPath(), {"Good", "", "", ""}},
      {dir_->CaBundlePath(), {"Good", "Other", "", ""}},
  };
  for (const auto& test : files) {
    SCOPED_TRACE(test.file);
    ASSERT_EQ(LdapSslAddTrustedCert(test.file.c_str(), kLdapCertFilePem), 0);
#ifdef _WIN32
    // Wine's wldap32 refuses the server-certificate callback (0x5C): with a
    // trusted file set, a TLS handle then fails at its first operation
    // rather than connect to a server the file does not vouch for. The
    // check itself is proven under Wine by certificates_win32_test.
    EXPECT_EQ((Strings{TlsTree(0), TlsTree(1), TlsTree(2), TlsTree(3)}), Strings(4, ""));
    Handle ld(LdapSslInit(S(0).host.c_str(), S(0).tls_port, 1));
    ASSERT_NE(ld, nullptr);
    EXPECT_EQ(LdapSimpleBind(ld.get(), "", ""), -1);
    EXPECT_EQ(ResultCode(ld.get()), kLdapConnectError);
#else
    EXPECT_EQ((Strings{TlsTree(0), TlsTree(1), TlsTree(2), TlsTree(3)}), test.trees);
#endif
  }
  EXPECT_EQ(LdapSslClientDeinit(), 0);
}

#ifndef _WIN32
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

class TlsConnectionTest : public LdapPortTest {
 protected:
  void SetUp() override {
    LdapPortTest::SetUp();
    LdapSslClientDeinit();  // no thread has a file
    ASSERT_EQ(LdapSslClientInit(nullptr, nullptr), 0);
  }
  void TearDown() override {
    LdapSslClientDeinit();
    LdapPortTest::TearDown();
  }
  int FirstBindCode(size_t i) const { return platform::FirstBindCode(S(i).host, S(i).tls_port); }
};

// The order a process-wide trusted file gets wrong: one thread adds its
// server's file, another thread adds another file, then each connects.
// Each is checked against the file it added itself.
TEST_F(TlsConnectionTest, EachThreadConnectsWithTheFileItAdded) {
  ASSERT_TRUE(Use(kTls));
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
    codes[S(server).tree] = code;
  };
  std::thread first(connect, 0, dir_->CaCertPath(), 0);
  std::thread second(connect, 1, dir_->OtherCaCertPath(), 1);
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
  ASSERT_TRUE(Use(kTls));
  ASSERT_EQ(LdapSslAddTrustedCert(dir_->CaCertPath().c_str(), kLdapCertFilePem), 0);
  const LdapTimeval five_seconds = {5, 0};
  std::map<std::string, int> codes;
  for (const LdapTimeval* timeout : {&five_seconds, static_cast<const LdapTimeval*>(nullptr)}) {
    LdapSetOption(nullptr, kLdapOptNetworkTimeout, timeout);
    const std::string with = timeout != nullptr ? " with a time-out" : " without";
    for (size_t i : {1, 2, 3}) codes[S(i).tree + with] = FirstBindCode(i);
    codes["closed" + with] = platform::FirstBindCode(dir_->closed_host(), dir_->closed_port());
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
  ASSERT_TRUE(Use({"Good:tls=good", "Forged:tls=forgedca", "Fake:tls=fakeca", "Chain:tls=chain",
                   "Leaf:tls=forgedleaf"}));
  const std::string ca = dir_->CaCertPath();
  const std::string intermediate = dir_->IntermediateCertPath();
  const std::string with_forgery = dir_->CaWithForgeryPath();
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
    const std::string what = S(c.server).tree + " against " + c.trusted_file + ": ";
    expected.push_back(what + c.tree);
    const bool added = LdapSslAddTrustedCert(c.trusted_file.c_str(), kLdapCertFilePem) == 0;
    const std::string tree = added ? TlsTree(c.server) : "no file";
    seen.push_back(what + (tree.empty() ? "refused" : tree));
  }
  EXPECT_EQ(expected, seen);
}
#endif  // _WIN32

}  // namespace
}  // namespace platform
}  // namespace wendrel
