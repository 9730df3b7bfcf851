// The LDAP port against real slapd servers: what the directory code relies
// on, on both builds (natively over libldap, on Windows over Wine's wldap32).

#include "platform/ldap.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/ldap_owners.h"
#include "tests/integration/support/directory_fixture.h"

namespace wendrel {
namespace platform {
namespace {

using testing::DirectoryFixture;

using Handle = LdapHandleOwner;
using Message = LdapMessageOwner;

// A port-allocated list as strings, released.
std::vector<std::string> TakeList(char** list) {
  std::vector<std::string> out;
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

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Starts a bind and waits up to `wait` for its response: the bind response's
// result code, or -1 when the bind could not be started or the wait failed,
// or -2 when nothing came in time.
int Bind(LdapHandle* ld, const char* dn, const char* password, LdapTimeval wait) {
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
  std::vector<std::string> values = TakeList(LdapGetValues(ld, entry, "directoryTreeName"));
  return values.empty() ? "no value" : values[0];
}

class LdapPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int version = 3;
    LdapSetOption(nullptr, kLdapOptProtocolVersion, &version);
    LdapSetOption(nullptr, kLdapOptNetworkTimeout, nullptr);
  }
  void TearDown() override { LdapSetOption(nullptr, kLdapOptNetworkTimeout, nullptr); }

  DirectoryFixture dir_;
};

TEST_F(LdapPortTest, BindsReadsTreeNameSearchesAndWalksEntries) {
  ASSERT_TRUE(dir_.Start({"Acme"})) << dir_.error();
  const testing::DirectoryServer& s = dir_.server(0);
  Handle ld(LdapInit(s.host.c_str(), s.port));
  ASSERT_NE(ld, nullptr);
  int zero = 0;
  EXPECT_EQ(LdapSetOption(ld.get(), kLdapOptDeref, &zero), kLdapSuccess);
  EXPECT_EQ(LdapSetOption(ld.get(), kLdapOptReferrals, &zero), kLdapSuccess);
  int referrals = -1;
  EXPECT_EQ(LdapGetOption(ld.get(), kLdapOptReferrals, &referrals), kLdapSuccess);
  EXPECT_EQ(referrals, 0);

  EXPECT_EQ(Bind(ld.get(), "", "", {5, 0}), kLdapSuccess);
  EXPECT_EQ(TreeName(ld.get()), "Acme");

  char mail[] = "mail", full[] = "fullName", given[] = "givenName", sur[] = "surname";
  char* attrs[] = {mail, full, given, sur, nullptr};
  LdapTimeval limit = {10, 0};
  LdapMessage* raw = nullptr;
  int rc = LdapSearchExtS(ld.get(), "o=Acme", kLdapScopeSubtree, "(|(cn=jdoe)(cn=zoe))", attrs,
                          0, nullptr, nullptr, &limit, 0, &raw);
  Message result(raw);
  ASSERT_EQ(rc, kLdapSuccess);

  // Each entry as "DN|attr=first value|...", attributes in the server's order.
  std::vector<std::string> seen;
  for (LdapMessage* e = LdapFirstEntry(ld.get(), result.get()); e != nullptr;
       e = LdapNextEntry(ld.get(), e)) {
    std::string line = Take(LdapGetDn(ld.get(), e));
    LdapBer* ber = nullptr;
    for (char* a = LdapFirstAttribute(ld.get(), e, &ber); a != nullptr;
         a = LdapNextAttribute(ld.get(), e, ber)) {
      std::string name = Take(a);
      std::vector<std::string> values = TakeList(LdapGetValues(ld.get(), e, name.c_str()));
      ASSERT_FALSE(values.empty()) << name;
      line += "|" + name + "=" + values[0];
    }
    LdapBerFree(ber, 0);
    seen.push_back(line);
  }
  std::sort(seen.begin(), seen.end());
  // The server answers "surname" with the name it knows the attribute by;
  // UTF-8 values arrive unchanged on both systems.
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "cn=jdoe,ou=eng,o=Acme|sn=Doe|givenName=Jane|fullName=Jane Doe"
                      "|mail=jane.doe@acme.example",
                      "cn=jdoe,ou=sales,o=Acme|sn=Doe|givenName=John|fullName=John Doe"
                      "|mail=jdoe@acme.example",
                      "cn=zoe,ou=sales,o=Acme|sn=\xC3\x85ngstr\xC3\xB6m|givenName=Zo\xC3\xAB"
                      "|fullName=Zo\xC3\xAB \xC3\x85ngstr\xC3\xB6m"}));

  EXPECT_EQ(TakeList(LdapExplodeDn("cn=jdoe,ou=sales,o=Acme", 1)),
            (std::vector<std::string>{"jdoe", "sales", "Acme"}));
  EXPECT_EQ(TakeList(LdapExplodeDn("cn=jdoe,ou=sales,o=Acme", 0)),
            (std::vector<std::string>{"cn=jdoe", "ou=sales", "o=Acme"}));
  // Values come back as people read them; with types, escaped where the
  // DN syntax needs it.
  EXPECT_EQ(TakeList(LdapExplodeDn("cn=Zo\xC3\xAB+sn=X,ou=Doe\\, J,o=Acme", 1)),
            (std::vector<std::string>{"Zo\xC3\xAB+X", "Doe, J", "Acme"}));
  EXPECT_EQ(TakeList(LdapExplodeDn("cn=Zo\xC3\xAB,ou=Doe\\, J,o=Acme", 0)),
            (std::vector<std::string>{"cn=Zo\xC3\xAB", "ou=Doe\\, J", "o=Acme"}));
  EXPECT_EQ(LdapExplodeDn("no dn here", 0), nullptr);
}

TEST_F(LdapPortTest, BindResponseCarriesTheServersVerdict) {
  ASSERT_TRUE(dir_.Start({"Acme"})) << dir_.error();
  const testing::DirectoryServer& s = dir_.server(0);
  Handle good(LdapInit(s.host.c_str(), s.port));
  ASSERT_NE(good, nullptr);
  EXPECT_EQ(Bind(good.get(), s.admin_dn.c_str(), s.password.c_str(), {5, 0}), kLdapSuccess);
  Handle bad(LdapInit(s.host.c_str(), s.port));
  ASSERT_NE(bad, nullptr);
  EXPECT_EQ(Bind(bad.get(), s.admin_dn.c_str(), "wrong", {5, 0}), kLdapInvalidCredentials);
  // The failed bind still leaves a connection the root DSE can be read on.
  EXPECT_EQ(TreeName(bad.get()), "Acme");
}

TEST_F(LdapPortTest, SearchErrorsUseTheSdkNumbering) {
  ASSERT_TRUE(dir_.Start({"Acme"})) << dir_.error();
  const testing::DirectoryServer& s = dir_.server(0);
  Handle ld(LdapInit(s.host.c_str(), s.port));
  ASSERT_NE(ld, nullptr);
  ASSERT_EQ(Bind(ld.get(), "", "", {5, 0}), kLdapSuccess);

  LdapMessage* raw = nullptr;
  int rc = LdapSearchExtS(ld.get(), "o=Acme", kLdapScopeSubtree, "(cn=jdoe", nullptr, 0,
                          nullptr, nullptr, nullptr, 0, &raw);
  Message bad_filter(raw);
  EXPECT_EQ(rc, kLdapFilterError);
  EXPECT_EQ(ResultCode(ld.get()), kLdapFilterError);

  raw = nullptr;
  rc = LdapSearchExtS(ld.get(), "ou=nowhere,o=Acme", kLdapScopeOneLevel, "(cn=*)", nullptr, 0,
                      nullptr, nullptr, nullptr, 0, &raw);
  Message missing_base(raw);
  EXPECT_EQ(rc, kLdapNoSuchObject);

  // The asynchronous form: the whole result arrives as one chain whose code
  // ldap_result2error reads.
  int msgid = -1;
  LdapTimeval limit = {5, 0};
  ASSERT_EQ(LdapSearchExt(ld.get(), "o=Acme", kLdapScopeSubtree, "(uid=asmith)", nullptr, 0,
                          nullptr, nullptr, &limit, 0, &msgid),
            kLdapSuccess);
  raw = nullptr;
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
  LdapTimeval* tv = reinterpret_cast<LdapTimeval*>(1);
  ASSERT_EQ(LdapGetOption(nullptr, kLdapOptNetworkTimeout, &tv), kLdapSuccess);
  EXPECT_EQ(tv, nullptr);  // none set

  LdapTimeval set = {7, 250000};
  ASSERT_EQ(LdapSetOption(nullptr, kLdapOptNetworkTimeout, &set), kLdapSuccess);
  set.tv_sec = 99;  // the library keeps its own copy
  LdapTimeval* first = nullptr;
  LdapTimeval* second = nullptr;
  ASSERT_EQ(LdapGetOption(nullptr, kLdapOptNetworkTimeout, &first), kLdapSuccess);
  ASSERT_EQ(LdapGetOption(nullptr, kLdapOptNetworkTimeout, &second), kLdapSuccess);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);  // each read is a new allocation the caller frees
  EXPECT_EQ(first->tv_sec, 7);
  EXPECT_EQ(first->tv_usec, 250000);
  LdapMemFree(first);
  LdapMemFree(second);

  // A handle's own time-out leaves the library-wide one alone, and is not
  // handed out.
  Handle ld(LdapInit("127.0.0.1", 389));
  ASSERT_NE(ld, nullptr);
  LdapTimeval own = {2, 0};
  EXPECT_EQ(LdapSetOption(ld.get(), kLdapOptNetworkTimeout, &own), kLdapSuccess);
  LdapTimeval* still = nullptr;
  ASSERT_EQ(LdapGetOption(nullptr, kLdapOptNetworkTimeout, &still), kLdapSuccess);
  ASSERT_NE(still, nullptr);
  EXPECT_EQ(still->tv_sec, 7);
  LdapMemFree(still);
  EXPECT_EQ(LdapGetOption(ld.get(), kLdapOptNetworkTimeout, &still), kLdapParamError);

  ASSERT_EQ(LdapSetOption(nullptr, kLdapOptNetworkTimeout, nullptr), kLdapSuccess);
  tv = reinterpret_cast<LdapTimeval*>(1);
  ASSERT_EQ(LdapGetOption(nullptr, kLdapOptNetworkTimeout, &tv), kLdapSuccess);
  EXPECT_EQ(tv, nullptr);
}

TEST_F(LdapPortTest, ClosedPortAndBadArgumentsFailFast) {
  ASSERT_TRUE(dir_.Start({})) << dir_.error();
  auto start = std::chrono::steady_clock::now();
  Handle ld(LdapInit(dir_.closed_host().c_str(), dir_.closed_port()));
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

TEST_F(LdapPortTest, SilentPeersAreBoundedByTheNetworkTimeout) {
  ASSERT_TRUE(dir_.Start({"Acme"})) << dir_.error();
  ASSERT_TRUE(dir_.Freeze(0)) << dir_.error();
  LdapTimeval one = {1, 0};
  ASSERT_EQ(LdapSetOption(nullptr, kLdapOptNetworkTimeout, &one), kLdapSuccess);

  struct Peer {
    std::string host;
    int port;
  };
  for (const Peer& peer : {Peer{dir_.silent_host(), dir_.silent_port()},
                           Peer{dir_.server(0).host, dir_.server(0).port}}) {
    SCOPED_TRACE(peer.host);
    auto start = std::chrono::steady_clock::now();
    Handle ld(LdapInit(peer.host.c_str(), peer.port));
    ASSERT_NE(ld, nullptr);
    int msgid = LdapSimpleBind(ld.get(), "", "");
    ASSERT_NE(msgid, -1);  // the TCP handshake succeeds; nobody answers
    LdapTimeval* wait = nullptr;
    ASSERT_EQ(LdapGetOption(nullptr, kLdapOptNetworkTimeout, &wait), kLdapSuccess);
    ASSERT_NE(wait, nullptr);
    LdapMessage* raw = nullptr;
    EXPECT_EQ(LdapResult(ld.get(), msgid, 0, wait, &raw), 0);
    LdapMemFree(wait);
    Message none(raw);
    EXPECT_EQ(none, nullptr);
    double took = SecondsSince(start);
    EXPECT_GE(took, 0.9);
    EXPECT_LT(took, 3.0);
  }

  // Thawed, the server answers again.
  ASSERT_TRUE(dir_.Thaw(0)) << dir_.error();
  Handle ld(LdapInit(dir_.server(0).host.c_str(), dir_.server(0).port));
  ASSERT_NE(ld, nullptr);
  EXPECT_EQ(Bind(ld.get(), "", "", {5, 0}), kLdapSuccess);
}

TEST_F(LdapPortTest, TlsHandshakeWithASilentPeerIsBoundedByTheNetworkTimeout) {
#ifdef _WIN32
  GTEST_SKIP() << "Wine's wldap32 runs the TLS handshake in libldap over GnuTLS and ignores "
                  "ldap_connect's time-out: against a silent TLS peer it does not return. "
                  "Windows bounds ldap_connect by the time-out; the native port is proven here";
#endif
  ASSERT_TRUE(dir_.Start({"Acme:tls=good"})) << dir_.error();
  ASSERT_EQ(LdapSslAddTrustedCert(dir_.CaCertPath().c_str(), kLdapCertFilePem), 0);
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
    Handle ld(LdapSslInit(dir_.silent_host().c_str(), dir_.silent_port(), 1));
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
  const testing::DirectoryServer& s = dir_.server(0);
  Handle good(LdapSslInit(s.host.c_str(), s.tls_port, 1));
  ASSERT_NE(good, nullptr);
  EXPECT_EQ(Bind(good.get(), "", "", {5, 0}), kLdapSuccess);
  EXPECT_EQ(TreeName(good.get()), "Acme");
  LdapSslClientDeinit();
}

TEST_F(LdapPortTest, StoppedAndRestartedServer) {
  ASSERT_TRUE(dir_.Start({"Acme", "Beta"})) << dir_.error();
  ASSERT_TRUE(dir_.Kill(0)) << dir_.error();
  Handle dead(LdapInit(dir_.server(0).host.c_str(), dir_.server(0).port));
  ASSERT_NE(dead, nullptr);
  EXPECT_EQ(Bind(dead.get(), "", "", {5, 0}), -1);

  Handle other(LdapInit(dir_.server(1).host.c_str(), dir_.server(1).port));
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(Bind(other.get(), "", "", {5, 0}), kLdapSuccess);
  EXPECT_EQ(TreeName(other.get()), "Beta");

  ASSERT_TRUE(dir_.Restart(0)) << dir_.error();
  Handle back(LdapInit(dir_.server(0).host.c_str(), dir_.server(0).port));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(Bind(back.get(), "", "", {5, 0}), kLdapSuccess);
  EXPECT_EQ(TreeName(back.get()), "Acme");
}

TEST_F(LdapPortTest, TrustedCertificateFileIsChecked) {
  ASSERT_TRUE(dir_.Start({"Good:tls=good", "Other:tls=otherca", "Old:tls=expired",
                          "Wrong:tls=wronghost"}))
      << dir_.error();
  ASSERT_EQ(LdapSslClientInit(nullptr, nullptr), 0);
  EXPECT_NE(LdapSslAddTrustedCert((dir_.CaCertPath() + ".missing").c_str(), kLdapCertFilePem),
            0);
  EXPECT_NE(LdapSslAddTrustedCert(dir_.NonCertificatePath().c_str(), kLdapCertFilePem), 0);
  ASSERT_EQ(LdapSslAddTrustedCert(dir_.CaCertPath().c_str(), kLdapCertFilePem), 0);

  // Tree name over TLS, or "" when the TLS bind did not complete.
  auto tls_tree = [&](size_t i) -> std::string {
    const testing::DirectoryServer& s = dir_.server(i);
    Handle ld(LdapSslInit(s.host.c_str(), s.tls_port, 1));
    if (ld == nullptr) return "no handle";
    if (Bind(ld.get(), "", "", {5, 0}) != kLdapSuccess) return "";
    return TreeName(ld.get());
  };
#ifdef _WIN32
  // Wine's wldap32 refuses the server-certificate callback (0x5C): with a
  // trusted file set, a TLS handle then fails at its first operation rather
  // than connect to a server the file does not vouch for. The check itself
  // is proven under Wine by certificate_check_win32_test.
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(tls_tree(i), "") << i;
  const testing::DirectoryServer& good = dir_.server(0);
  Handle ld(LdapSslInit(good.host.c_str(), good.tls_port, 1));
  ASSERT_NE(ld, nullptr);
  EXPECT_EQ(LdapSimpleBind(ld.get(), "", ""), -1);
  int code = 0;
  EXPECT_EQ(LdapGetOption(ld.get(), kLdapOptResultCode, &code), kLdapSuccess);
  EXPECT_EQ(code, kLdapConnectError);
  // DER, and several certificates in one PEM file, are read as certificate
  // files all the same.
  EXPECT_EQ(LdapSslAddTrustedCert(dir_.CaCertDerPath().c_str(), kLdapCertFilePem), 0);
  EXPECT_EQ(LdapSslAddTrustedCert(dir_.CaBundlePath().c_str(), kLdapCertFilePem), 0);
  EXPECT_EQ(LdapSslClientDeinit(), 0);
#else
  EXPECT_EQ(tls_tree(0), "Good");
  EXPECT_EQ(tls_tree(1), "");  // issued by a CA the trusted file does not hold
  EXPECT_EQ(tls_tree(2), "");  // expired
  EXPECT_EQ(tls_tree(3), "");  // names another host

  // With the other CA trusted, the verdicts swap.
  ASSERT_EQ(LdapSslAddTrustedCert(dir_.OtherCaCertPath().c_str(), kLdapCertFilePem), 0);
  EXPECT_EQ(tls_tree(0), "");
  EXPECT_EQ(tls_tree(1), "Other");

  // The fixture CA as a DER file is the same trust as its PEM file.
  ASSERT_EQ(LdapSslAddTrustedCert(dir_.CaCertDerPath().c_str(), kLdapCertFilePem), 0);
  EXPECT_EQ(tls_tree(0), "Good");
  EXPECT_EQ(tls_tree(1), "");

  // Both CAs in one PEM file: both servers are vouched for.
  ASSERT_EQ(LdapSslAddTrustedCert(dir_.CaBundlePath().c_str(), kLdapCertFilePem), 0);
  EXPECT_EQ(tls_tree(0), "Good");
  EXPECT_EQ(tls_tree(1), "Other");
  EXPECT_EQ(tls_tree(2), "");
  EXPECT_EQ(LdapSslClientDeinit(), 0);
#endif
}

}  // namespace
}  // namespace platform
}  // namespace wendrel
