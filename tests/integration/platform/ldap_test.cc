// The LDAP port and LDAPConn over it against real slapd servers on both
// builds (libldap natively, Wine's wldap32): binds, the tree name, searches,
// records and time-outs; natively also the TLS connections: which trusted
// file each takes, refused certificates, and forged or honest chains.

#include "platform/ldap.h"

#include <chrono>
#include <condition_variable>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "directory/ldap_conn.h"
#include "gtest/gtest.h"
#include "platform/ldap_owners.h"
#include "platform/ui.h"
#include "results/user_data.h"
#include "tests/integration/support/directory_fixture.h"
#ifndef _WIN32
#include "tests/integration/support/loopback_listener.h"
#endif

namespace wendrel {
namespace platform {
namespace {

using testing::DirectoryServer;
using testing::SecondsSince;
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

// Starts a bind and waits for its response: its result code, -1 when the
// bind could not be started or the wait failed, -2 when nothing came in time.
int Bind(LdapHandle* ld, const char* dn = "", const char* password = "",
         LdapTimeval wait = {5, 0}) {
  const int msgid = LdapSimpleBind(ld, dn, password);
  if (msgid == -1) return -1;
  LdapMessage* raw = nullptr;
  const int type = LdapResult(ld, msgid, 0, &wait, &raw);
  Message msg(raw);
  if (type == 0) return -2;
  return type == kLdapResBind ? LdapResult2Error(ld, msg.get(), 0) : -1;
}

// The tree name in the root DSE, as the directory code reads it.
std::string TreeName(LdapHandle* ld) {
  char attr[] = "directoryTreeName";
  char* attrs[] = {attr, nullptr};
  LdapMessage* raw = nullptr;
  const int rc = LdapSearchExtS(ld, "", kLdapScopeBase, "(objectClass=*)", attrs, 0, nullptr,
                                nullptr, nullptr, 0, &raw);
  Message result(raw);
  if (rc != kLdapSuccess) return "error " + std::to_string(rc);
  LdapMessage* entry = LdapFirstEntry(ld, result.get());
  if (entry == nullptr) return "no entry";
  Strings values = TakeList(LdapGetValues(ld, entry, "directoryTreeName"));
  return values.empty() ? "no value" : values[0];
}

// What the user search asks every server for.
const char* const kSearchAttributes[] = {"mail",      "fullName",        "givenName",
                                         "surname",   "telephoneNumber", "uid",
                                         "objectClass", nullptr};

// One record of a result, whole: user, FDN, context, context FDN, attributes.
using Record = std::tuple<std::string, std::string, std::string, std::string,
                          std::map<std::string, std::string>>;

std::vector<Record> Records(LDAPConn& conn) {
  UserData users("jdoe", "corp");
  conn.GetResults(users);
  std::vector<Record> out;
  for (UserObj* u = users.GetFirstUser(); u != nullptr; u = users.GetNextUser()) {
    out.emplace_back(u->GetUser(), u->GetUserFDN(), u->GetUserContext(),
                     u->GetUserContextFDN(), u->GetAttributes());
  }
  return out;
}

// Two plain servers, and TLS servers whose certificates are issued by the
// fixture CA (Good), by another CA (Other), expired (Old) or for another
// host (Wrong).
const Strings kPlain = {"corp", "other"};
const Strings kTls = {"Good:tls=good", "Other:tls=otherca", "Old:tls=expired",
                      "Wrong:tls=wronghost"};

class LdapTest : public ::testing::Test {
 protected:
  static void TearDownTestSuite() { testing::StopSharedDirectories(); }
  void SetUp() override {
    int version = 3;
    LdapSetOption(nullptr, kLdapOptProtocolVersion, &version);
    LdapSetOption(nullptr, kLdapOptNetworkTimeout, nullptr);
    previous_presenter_ = SetMessageBoxPresenter(&presenter_);
  }
  void TearDown() override {
    SetMessageBoxPresenter(previous_presenter_);
    LdapSetOption(nullptr, kLdapOptNetworkTimeout, nullptr);
  }

  // The servers of `specs`, shared by the tests of the suite; a test that
  // freezes one thaws it.
  bool Use(const Strings& specs) {
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
    return Bind(ld.get()) == kLdapSuccess ? TreeName(ld.get()) : "";
  }
  // The network time-out, set the way the workers and the search set it.
  static void SetNetworkTimeout(LDAPConn& conn, int seconds) {
    LdapTimeval tv = {seconds, 0};
    conn.SetOption(kLdapOptNetworkTimeout, static_cast<const void*>(&tv));
  }
  bool BindTls(LDAPConn& conn, size_t i, const std::string& certificate) const {
    return conn.BindToServer(S(i).host, S(i).tls_port, true, certificate, "", "");
  }

  testing::DirectoryFixture* dir_ = nullptr;
  struct : MessageBoxPresenter {  // no box may block the tests under Wine
    int Show(const std::string&, const std::string&, uint32_t) override { return kIdOk; }
  } presenter_;
  MessageBoxPresenter* previous_presenter_ = nullptr;
};

TEST_F(LdapTest, PortBindsSearchesAndExplodesDns) {
  ASSERT_TRUE(Use(kPlain));
  Handle ld = Open(0);
  ASSERT_NE(ld, nullptr);
  int zero = 0, referrals = -1;
  EXPECT_EQ(LdapSetOption(ld.get(), kLdapOptDeref, &zero), kLdapSuccess);
  EXPECT_EQ(LdapSetOption(ld.get(), kLdapOptReferrals, &zero), kLdapSuccess);
  EXPECT_EQ(LdapGetOption(ld.get(), kLdapOptReferrals, &referrals), kLdapSuccess);
  EXPECT_EQ(referrals, 0);
  // The bind response carries the server's verdict.
  EXPECT_EQ(Bind(ld.get(), S(0).admin_dn.c_str(), "wrong"), kLdapInvalidCredentials);
  EXPECT_EQ(Bind(ld.get(), S(0).admin_dn.c_str(), S(0).password.c_str()), kLdapSuccess);

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

  // The asynchronous search (what LDAPConn falls back on): the whole result
  // arrives as one chain whose code ldap_result2error reads.
  int msgid = -1;
  LdapTimeval limit = {5, 0};
  ASSERT_EQ(LdapSearchExt(ld.get(), "o=corp", kLdapScopeSubtree, "(uid=asmith)", nullptr, 0,
                          nullptr, nullptr, &limit, 0, &msgid),
            kLdapSuccess);
  LdapMessage* raw = nullptr;
  const int type = LdapResult(ld.get(), msgid, 1, &limit, &raw);
  Message chain(raw);
  EXPECT_TRUE(type == kLdapResSearchEntry || type == kLdapResSearchResult) << type;
  EXPECT_EQ(LdapResult2Error(ld.get(), chain.get(), 0), kLdapSuccess);
  LdapMessage* entry = LdapFirstEntry(ld.get(), chain.get());
  ASSERT_NE(entry, nullptr);
  char* dn = LdapGetDn(ld.get(), entry);
  EXPECT_STREQ(dn, "cn=asmith,ou=eng,o=corp");
  LdapMemFree(dn);
  EXPECT_EQ(LdapNextEntry(ld.get(), entry), nullptr);
}

TEST_F(LdapTest, PortNetworkTimeoutIsLibraryWideAndHandedOutAsACopy) {
  // The library-wide time-out as read back: "none" or "seconds.microseconds".
  auto library_wide = []() -> std::string {
    LdapTimeval* tv = reinterpret_cast<LdapTimeval*>(1);
    if (LdapGetOption(nullptr, kLdapOptNetworkTimeout, &tv) != kLdapSuccess) return "error";
    if (tv == nullptr) return "none";
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

  // A handle that cannot be opened leaves its code for a null handle, until
  // the next one opens.
  int code = -1;
  EXPECT_EQ(LdapInit("127.0.0.1", 0), nullptr);
  EXPECT_EQ(LdapGetOption(nullptr, kLdapOptResultCode, &code), kLdapSuccess);
  EXPECT_EQ(code, kLdapParamError);
  Handle fine(LdapInit("127.0.0.1", 389));
  LdapGetOption(nullptr, kLdapOptResultCode, &code);
  EXPECT_EQ(code, kLdapSuccess);
}

TEST_F(LdapTest, ConnBindsReadsTreeNameAndTurnsEntriesIntoRecords) {
  ASSERT_TRUE(Use(kPlain));
  LDAPConn conn(false);
  SetNetworkTimeout(conn, 5);
  // The object moves from server to server as the user search does; each
  // bind reads that server's tree name.
  ASSERT_TRUE(conn.BindToServer(S(1).host, S(1).port, false, "", "", ""));
  EXPECT_EQ(conn.GetTreeName(), "other");
  EXPECT_TRUE(conn.QuickBind(S(1).host, S(1).port, false, "", "", ""));
  EXPECT_EQ(conn.GetTreeName(), "");  // emptied by every bind operation
  // The bind's verdict is not examined: only the tree name counts.
  const DirectoryServer& s = S(0);
  EXPECT_TRUE(conn.QuickBind(s.host, s.port, false, "", s.admin_dn, "wrong"));
  EXPECT_TRUE(conn.BindToServer(s.host, s.port, false, "", s.admin_dn, "wrong"));
  EXPECT_EQ(conn.GetTreeName(), "corp");
  ASSERT_TRUE(conn.BindToServer(s.host, s.port, false, "", s.admin_dn, s.password));
  EXPECT_EQ(conn.GetTreeName(), "corp");

  LdapTimeval limit = {10, 0};
  conn.Search("o=corp", "(|(cn=jdoe)(cn=zoe))", kLdapScopeSubtree, kSearchAttributes, &limit);
  EXPECT_EQ(conn.GetErrorText(), "LDAP Successful");
  // Records in result order (the server's load order). Attributes are named
  // as the server returned them (asked for "surname", slapd says "sn"), with
  // only the first of several values; directory text arrives in UTF-8 and
  // is kept in the ANSI code page.
  const std::vector<Record> expected = {
      {"jdoe", "cn=jdoe", "sales.corp", "ou=sales.o=corp",
       {{"fullName", "John Doe"}, {"givenName", "John"}, {"mail", "jdoe@corp.example"},
        {"objectClass", "inetOrgPerson"}, {"sn", "Doe"}, {"telephoneNumber", "+1 555 0100"},
        {"uid", "jdoe"}}},
      {"jdoe", "cn=jdoe", "eng.corp", "ou=eng.o=corp",
       {{"fullName", "Jane Doe"}, {"givenName", "Jane"}, {"mail", "jane.doe@corp.example"},
        {"objectClass", "inetOrgPerson"}, {"sn", "Doe"}, {"uid", "jadoe"}}},
      {"zoe", "cn=zoe", "sales.corp", "ou=sales.o=corp",
       {{"fullName", "Zo\xEB \xC5ngstr\xF6m"}, {"givenName", "Zo\xEB"},
        {"objectClass", "inetOrgPerson"}, {"sn", "\xC5ngstr\xF6m"}, {"uid", "zoe"}}},
  };
  EXPECT_EQ(expected, Records(conn));
  // The result stays in place: read again, it gives the same records.
  EXPECT_EQ(expected, Records(conn));
}

TEST_F(LdapTest, ConnUnreachableServersFailWithinTheirTimeouts) {
  ASSERT_TRUE(Use(kPlain));
  LDAPConn conn(false);
  SetNetworkTimeout(conn, 1);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(conn.BindToServer(dir_->closed_host(), dir_->closed_port(), false, "", "", ""));
  EXPECT_FALSE(conn.QuickBind(dir_->closed_host(), dir_->closed_port(), false, "", "", ""));
  EXPECT_LT(SecondsSince(start), 3.0);
  EXPECT_EQ(conn.GetErrorText(), "LDAP Server is unavailable.");

  // A peer that accepts and never answers, and a frozen server: the bind
  // waits the network time-out, not longer.
  ASSERT_TRUE(dir_->Freeze(0)) << dir_->error();
  for (const auto& peer : {std::make_pair(dir_->silent_host(), dir_->silent_port()),
                           std::make_pair(S(0).host, S(0).port)}) {
    SCOPED_TRACE(peer.first);
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(conn.BindToServer(peer.first, peer.second, false, "", "", ""));
    EXPECT_GE(SecondsSince(start), 0.8);
    EXPECT_LT(SecondsSince(start), 4.0);
  }
  ASSERT_TRUE(dir_->Thaw(0)) << dir_->error();

  // The quick bind gives up after one second, whatever the network time-out.
  SetNetworkTimeout(conn, 20);
  start = std::chrono::steady_clock::now();
  EXPECT_FALSE(conn.QuickBind(dir_->silent_host(), dir_->silent_port(), false, "", "", ""));
  EXPECT_LT(SecondsSince(start), 4.0);

  // Port 0 cannot be opened at all: the library's parameter error, thrown
  // as its text.
  try {
    conn.BindToServer("127.0.0.1", 0, false, "", "", "");
    ADD_FAILURE() << "no exception";
  } catch (const std::string& text) {
    EXPECT_EQ(text, "LDAP Error: 0x59");
  }
  EXPECT_EQ(conn.GetErrorText(), "LDAP Error: 0x59");
  EXPECT_THROW(conn.QuickBind("127.0.0.1", 0, false, "", "", ""), std::string);
}

// Which TLS servers each trusted file lets LDAPConn bind to: a DER file is
// the same trust as its PEM file, and a PEM file of both CAs vouches for
// both; a file that is missing or holds no certificate is message 25.
TEST_F(LdapTest, ConnTlsBindsOnlyWhereTheTrustedFileVouches) {
  ASSERT_TRUE(Use(kTls));
  LDAPConn conn(true);
  SetNetworkTimeout(conn, 5);
  for (const std::string& path : {dir_->CaCertPath() + ".missing", dir_->NonCertificatePath()}) {
    try {
      BindTls(conn, 0, path);
      ADD_FAILURE() << "no exception for " << path;
    } catch (int id) {
      EXPECT_EQ(id, 25);
    }
  }
  const struct {
    std::string file;
    Strings trees;  // of the servers bound to, "" for the others
  } files[] = {
      {dir_->CaCertPath(), {"Good", "", "", ""}},
      {dir_->OtherCaCertPath(), {"", "Other", "", ""}},
      {dir_->CaCertDerPath(), {"Good", "", "", ""}},
      {dir_->CaBundlePath(), {"Good", "Other", "", ""}},
  };
  for (const auto& test : files) {
    SCOPED_TRACE(test.file);
    Strings trees;
    for (size_t i = 0; i < 4; ++i) {
      trees.push_back(BindTls(conn, i, test.file) ? conn.GetTreeName() : "");
      EXPECT_EQ(!trees.back().empty(),
                conn.QuickBind(S(i).host, S(i).tls_port, true, test.file, "", ""));
    }
#ifdef _WIN32
    // Wine's wldap32 refuses the server-certificate callback (0x5C), so no
    // TLS server with a trusted file is used there, not even a good one: it
    // is skipped as a server that does not answer is, its handle failing at
    // its first operation with the connect error. The file is read all the
    // same; certificates_win32_test judges the check itself.
    EXPECT_EQ(trees, Strings(4, ""));
    ASSERT_EQ(LdapSslAddTrustedCert(test.file.c_str(), kLdapCertFilePem), 0);
    Handle ld(LdapSslInit(S(0).host.c_str(), S(0).tls_port, 1));
    EXPECT_EQ(LdapSimpleBind(ld.get(), "", ""), -1);
    int code = 0;
    LdapGetOption(ld.get(), kLdapOptResultCode, &code);
    EXPECT_EQ(code, kLdapConnectError);
    LdapSslClientDeinit();
#else
    EXPECT_EQ(trees, test.trees);
#endif
  }
}

#ifndef _WIN32
// The result code of the first bind on a TLS handle to host:port: 0 when
// the bind could be sent, so the TLS connection was made.
int FirstBindCode(const std::string& host, int port) {
  Handle ld(LdapSslInit(host.c_str(), port, 1));
  if (ld == nullptr) return -1;
  if (LdapSimpleBind(ld.get(), "", "") != -1) return kLdapSuccess;
  int code = 0;
  LdapGetOption(ld.get(), kLdapOptResultCode, &code);
  return code;
}

// Wine's wldap32 runs the TLS handshake in libldap over GnuTLS and ignores
// ldap_connect's time-out: against a silent TLS peer it does not return.
TEST_F(LdapTest, TlsHandshakeWithASilentPeerIsBoundedByTheNetworkTimeout) {
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
    EXPECT_GE(SecondsSince(start), 0.8);
    EXPECT_LT(SecondsSince(start), 4.0);
  }
  // The bound applies to setting the connection up only: a TLS connection
  // that is set up in time works as before, longer than the time-out.
  EXPECT_EQ(TlsTree(0), "Good");
  // A peer that hangs up in the middle of the handshake fails it at once,
  // not when the time-out is over.
  LdapTimeval ten = {10, 0};
  ASSERT_EQ(LdapSetOption(nullptr, kLdapOptNetworkTimeout, &ten), kLdapSuccess);
  testing::Listener peer(1);
  auto hang_up = std::async(std::launch::async, [&peer] { peer.AcceptAndHangUp(20000); });
  auto start = std::chrono::steady_clock::now();
  Handle hung_up(LdapSslInit("127.0.0.1", peer.port(), 1));
  ASSERT_NE(hung_up, nullptr);
  EXPECT_EQ(Bind(hung_up.get(), "", "", {20, 0}), -1);
  EXPECT_LT(SecondsSince(start), 5.0);
  ASSERT_EQ(LdapSetOption(nullptr, kLdapOptNetworkTimeout, nullptr), kLdapSuccess);
  LdapSslClientDeinit();
}

class TlsConnectionTest : public LdapTest {
 protected:
  void SetUp() override {
    LdapTest::SetUp();
    LdapSslClientDeinit();  // no thread has a file
    ASSERT_EQ(LdapSslClientInit(nullptr, nullptr), 0);
  }
  void TearDown() override {
    LdapSslClientDeinit();
    LdapTest::TearDown();
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

// A certificate the trusted file does not vouch for fails the first bind
// with the connect error, with or without a network time-out: libldap
// itself reports such a handshake as "server down", which would make the
// server look unreachable. Where nothing listens it stays "server down".
TEST_F(TlsConnectionTest, RefusedCertificateIsAConnectErrorWithOrWithoutANetworkTimeout) {
  ASSERT_TRUE(Use(kTls));
  ASSERT_EQ(LdapSslAddTrustedCert(dir_->CaCertPath().c_str(), kLdapCertFilePem), 0);
  const LdapTimeval five_seconds = {5, 0};
  for (const LdapTimeval* timeout : {&five_seconds, static_cast<const LdapTimeval*>(nullptr)}) {
    SCOPED_TRACE(timeout != nullptr ? "with a time-out" : "without");
    LdapSetOption(nullptr, kLdapOptNetworkTimeout, timeout);
    EXPECT_EQ((std::vector<int>{FirstBindCode(1), FirstBindCode(2), FirstBindCode(3),
                                platform::FirstBindCode(dir_->closed_host(),
                                                        dir_->closed_port())}),
              (std::vector<int>{kLdapConnectError, kLdapConnectError, kLdapConnectError,
                                kLdapServerDown}));
  }
}

TEST_F(TlsConnectionTest, OnlyChainsThatReallyReachTheFileConnect) {
  ASSERT_TRUE(Use({"Good:tls=good", "Forged:tls=forgedca", "Fake:tls=fakeca", "Chain:tls=chain",
                   "Leaf:tls=forgedleaf"}));
  const std::string ca = dir_->CaCertPath(), intermediate = dir_->IntermediateCertPath();
  const std::string with_forgery = dir_->CaWithForgeryPath();
  const struct {
    size_t server;
    std::string trusted_file;
    std::string tree;
  } cases[] = {
      {0, ca, "Good"},           {1, ca, "refused"},           {2, ca, "refused"},
      {3, ca, "Chain"},          {3, intermediate, "Chain"},   {0, intermediate, "refused"},
      {0, with_forgery, "Good"}, {1, with_forgery, "refused"}, {2, with_forgery, "Fake"},
      {4, ca, "refused"},
  };
  Strings expected, seen;
  for (const auto& c : cases) {
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
