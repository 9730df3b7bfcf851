// LDAPConn against real slapd servers, on both builds (natively over
// libldap, on Windows over Wine's wldap32): binding plain and over TLS, the
// tree name, the time-outs, searches and their failures, and the records.

#include "directory/ldap_conn.h"

#include <chrono>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/ldap.h"
#include "platform/ui.h"
#include "results/user_data.h"
#include "tests/integration/support/directory_fixture.h"

namespace wendrel {
namespace {

using platform::LdapTimeval;
using testing::DirectoryFixture;
using testing::DirectoryServer;

// What the user search asks every server for.
const char* const kSearchAttributes[] = {"mail",      "fullName",        "givenName",
                                         "surname",   "telephoneNumber", "uid",
                                         "objectClass", nullptr};

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class RecordingPresenter : public platform::MessageBoxPresenter {
 public:
  struct Box {
    std::string text;
    uint32_t style;
  };
  int Show(const std::string&, const std::string& text, uint32_t style) override {
    boxes.push_back({text, style});
    return platform::kIdOk;
  }
  std::vector<Box> boxes;
};

std::string Attribute(const UserObj& user, const std::string& name) {
  std::string value = "<absent>";
  user.GetAttribute(name, &value);
  return value;
}

class LDAPConnTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_presenter_ = platform::SetMessageBoxPresenter(&presenter_);
    LDAPConn options(false);
    options.SetOption(platform::kLdapOptProtocolVersion, 3);
    options.SetOption(platform::kLdapOptNetworkTimeout, static_cast<const void*>(nullptr));
  }
  void TearDown() override {
    platform::SetMessageBoxPresenter(previous_presenter_);
    LDAPConn options(false);
    options.SetOption(platform::kLdapOptNetworkTimeout, static_cast<const void*>(nullptr));
  }

  // The network time-out, set the way the workers and the search set it.
  static void SetNetworkTimeout(LDAPConn& conn, int seconds) {
    LdapTimeval tv = {seconds, 0};
    conn.SetOption(platform::kLdapOptNetworkTimeout, static_cast<const void*>(&tv));
  }

  static bool Bind(LDAPConn& conn, const DirectoryServer& s) {
    return conn.BindToServer(s.host, s.port, false, "", "", "");
  }

  DirectoryFixture dir_;
  RecordingPresenter presenter_;
  platform::MessageBoxPresenter* previous_presenter_ = nullptr;
};

TEST_F(LDAPConnTest, BindsReadsTreeNameAndTurnsEntriesIntoRecords) {
  ASSERT_TRUE(dir_.Start({"corp", "other"})) << dir_.error();
  LDAPConn conn(false);
  SetNetworkTimeout(conn, 5);
  // The object moves from server to server as the user search does; each
  // bind reads that server's tree name.
  ASSERT_TRUE(Bind(conn, dir_.server(1)));
  EXPECT_EQ(conn.GetTreeName(), "other");
  ASSERT_TRUE(Bind(conn, dir_.server(0)));
  EXPECT_EQ(conn.GetTreeName(), "corp");
  EXPECT_TRUE(conn.QuickBind(dir_.server(1).host, dir_.server(1).port, false, "", "", ""));
  EXPECT_EQ(conn.GetTreeName(), "");  // emptied by every bind operation
  ASSERT_TRUE(Bind(conn, dir_.server(0)));

  LdapTimeval limit = {10, 0};
  conn.Search("o=corp", "(|(cn=jdoe)(cn=zoe))", platform::kLdapScopeSubtree, kSearchAttributes,
              &limit);
  EXPECT_EQ(conn.GetErrorText(), "LDAP Successful");
  UserData users("jdoe", "corp");
  conn.GetResults(users);
  ASSERT_EQ(users.GetUserCount(), 3);

  // Records in result order (the server's load order).
  UserObj* jdoe = users.GetFirstUser();
  EXPECT_EQ(jdoe->GetUser(), "jdoe");
  EXPECT_EQ(jdoe->GetUserFDN(), "cn=jdoe");
  EXPECT_EQ(jdoe->GetUserContext(), "sales.corp");
  EXPECT_EQ(jdoe->GetUserContextFDN(), "ou=sales.o=corp");
  EXPECT_EQ(Attribute(*jdoe, "mail"), "jdoe@corp.example");
  EXPECT_EQ(Attribute(*jdoe, "givenName"), "John");
  EXPECT_EQ(Attribute(*jdoe, "telephoneNumber"), "+1 555 0100");
  // Named as the server returned it: asked for "surname", slapd says "sn".
  EXPECT_EQ(Attribute(*jdoe, "sn"), "Doe");
  EXPECT_EQ(Attribute(*jdoe, "surname"), "<absent>");
  // Only the first of several values.
  EXPECT_EQ(Attribute(*jdoe, "objectClass"), "inetOrgPerson");

  UserObj* jane = users.GetNextUser();
  EXPECT_EQ(jane->GetUserContextFDN(), "ou=eng.o=corp");
  EXPECT_EQ(Attribute(*jane, "telephoneNumber"), "<absent>");

  // Directory text arrives in UTF-8 and is kept in the ANSI code page.
  UserObj* zoe = users.GetNextUser();
  EXPECT_EQ(zoe->GetUser(), "zoe");
  EXPECT_EQ(Attribute(*zoe, "givenName"), "Zo\xEB");
  EXPECT_EQ(users.GetNextUser(), nullptr);

  // The result stays in place: read again, it gives the same records.
  UserData again("jdoe", "corp");
  conn.GetResults(again);
  EXPECT_EQ(again.GetUserCount(), 3);
}

TEST_F(LDAPConnTest, BindVerdictIsNotExaminedOnlyTheTreeNameCounts) {
  ASSERT_TRUE(dir_.Start({"corp"})) << dir_.error();
  const DirectoryServer& s = dir_.server(0);
  LDAPConn conn(false);
  SetNetworkTimeout(conn, 5);
  EXPECT_TRUE(conn.BindToServer(s.host, s.port, false, "", s.admin_dn, "wrong"));
  EXPECT_EQ(conn.GetTreeName(), "corp");
  EXPECT_TRUE(conn.BindToServer(s.host, s.port, false, "", s.admin_dn, s.password));
  EXPECT_EQ(conn.GetTreeName(), "corp");
  EXPECT_TRUE(conn.QuickBind(s.host, s.port, false, "", s.admin_dn, "wrong"));
}

TEST_F(LDAPConnTest, UnreachableServersFailWithinTheirTimeouts) {
  ASSERT_TRUE(dir_.Start({"corp"})) << dir_.error();
  LDAPConn conn(false);
  SetNetworkTimeout(conn, 1);

  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(conn.BindToServer(dir_.closed_host(), dir_.closed_port(), false, "", "", ""));
  EXPECT_FALSE(conn.QuickBind(dir_.closed_host(), dir_.closed_port(), false, "", "", ""));
  EXPECT_LT(SecondsSince(start), 3.0);
  EXPECT_EQ(conn.GetErrorText(), "LDAP Server is unavailable.");

  // A peer that accepts and never answers, and a frozen server: the bind
  // waits the network time-out, not longer.
  ASSERT_TRUE(dir_.Freeze(0)) << dir_.error();
  for (const auto& peer : {std::make_pair(dir_.silent_host(), dir_.silent_port()),
                           std::make_pair(dir_.server(0).host, dir_.server(0).port)}) {
    SCOPED_TRACE(peer.first);
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(conn.BindToServer(peer.first, peer.second, false, "", "", ""));
    double took = SecondsSince(start);
    EXPECT_GE(took, 0.8);
    EXPECT_LT(took, 4.0);
  }

  // The quick bind gives up after one second, whatever the network time-out.
  SetNetworkTimeout(conn, 20);
  start = std::chrono::steady_clock::now();
  EXPECT_FALSE(conn.QuickBind(dir_.silent_host(), dir_.silent_port(), false, "", "", ""));
  EXPECT_LT(SecondsSince(start), 4.0);
}

TEST_F(LDAPConnTest, ConnectionThatCannotBeOpenedThrowsItsText) {
  LDAPConn conn(false);
  // Port 0 cannot be opened at all: the library's parameter error.
  try {
    conn.BindToServer("127.0.0.1", 0, false, "", "", "");
    ADD_FAILURE() << "no exception";
  } catch (const std::string& text) {
    EXPECT_EQ(text, "LDAP Error: 0x59");
  }
  EXPECT_EQ(conn.GetErrorText(), "LDAP Error: 0x59");
  EXPECT_THROW(conn.QuickBind("127.0.0.1", 0, false, "", "", ""), std::string);
}

TEST_F(LDAPConnTest, SearchFailures) {
  ASSERT_TRUE(dir_.Start({"corp"})) << dir_.error();
  LDAPConn conn(false);
  SetNetworkTimeout(conn, 5);
  ASSERT_TRUE(Bind(conn, dir_.server(0)));
  LdapTimeval limit = {5, 0};

  // A context that does not exist: told once, and the search goes on.
  conn.Search("ou=nowhere,o=corp", "(cn=jdoe)", platform::kLdapScopeOneLevel, kSearchAttributes,
              &limit);
  ASSERT_EQ(presenter_.boxes.size(), 1u);
  EXPECT_EQ(presenter_.boxes[0].text, "Invalid scope context specified. Searching will continue.");
  EXPECT_EQ(presenter_.boxes[0].style, 0x10u);
  UserData none("jdoe", "corp");
  conn.GetResults(none);
  EXPECT_EQ(none.GetUserCount(), 0);

  // Any other failure is thrown as its text.
  try {
    conn.Search("o=corp", "(cn=jdoe", platform::kLdapScopeSubtree, kSearchAttributes, &limit);
    ADD_FAILURE() << "no exception";
  } catch (const std::string& text) {
    EXPECT_EQ(text, "LDAP Error: 0x57");
  }

  // A server that stops answering mid-session: the search's time limit
  // gives message 19.
  ASSERT_TRUE(dir_.Freeze(0)) << dir_.error();
  LdapTimeval one = {1, 0};
  auto start = std::chrono::steady_clock::now();
  try {
    conn.Search("o=corp", "(cn=jdoe)", platform::kLdapScopeSubtree, kSearchAttributes, &one);
    ADD_FAILURE() << "no exception";
  } catch (int id) {
    EXPECT_EQ(id, 19);
  }
  EXPECT_LT(SecondsSince(start), 5.0);
  EXPECT_EQ(conn.GetErrorText(), "Timeout exceeded while searching for user.");
  EXPECT_EQ(presenter_.boxes.size(), 1u);
  ASSERT_TRUE(dir_.Thaw(0)) << dir_.error();
}

TEST_F(LDAPConnTest, TlsBindsOnlyWithALoadableCertificate) {
  ASSERT_TRUE(dir_.Start({"Good:tls=good", "Other:tls=otherca", "Old:tls=expired",
                          "Wrong:tls=wronghost"}))
      << dir_.error();
  LDAPConn conn(true);
  SetNetworkTimeout(conn, 5);
  const DirectoryServer& good = dir_.server(0);

  // A certificate file that is missing or holds no certificate: message 25.
  for (const std::string& path : {dir_.CaCertPath() + ".missing", dir_.NonCertificatePath()}) {
    try {
      conn.BindToServer(good.host, good.tls_port, true, path, "", "");
      ADD_FAILURE() << "no exception for " << path;
    } catch (int id) {
      EXPECT_EQ(id, 25);
    }
  }

#ifdef _WIN32
  // Wine's wldap32 refuses the server-certificate callback, so no TLS
  // server with a trusted file is bound to there, not even a good one: it
  // is skipped as a server that does not answer is. The certificate file is
  // read all the same (DER too).
  for (const std::string& path : {dir_.CaCertPath(), dir_.CaCertDerPath()}) {
    EXPECT_FALSE(conn.BindToServer(good.host, good.tls_port, true, path, "", "")) << path;
    EXPECT_FALSE(conn.QuickBind(good.host, good.tls_port, true, path, "", "")) << path;
  }
#else
  EXPECT_TRUE(conn.BindToServer(good.host, good.tls_port, true, dir_.CaCertPath(), "", ""));
  EXPECT_EQ(conn.GetTreeName(), "Good");
  EXPECT_TRUE(conn.QuickBind(good.host, good.tls_port, true, dir_.CaCertPath(), "", ""));
  EXPECT_TRUE(conn.BindToServer(good.host, good.tls_port, true, dir_.CaCertDerPath(), "", ""));

  // Servers the trusted file does not vouch for: not bound, no exception.
  for (size_t i : {1u, 2u, 3u}) {
    const DirectoryServer& s = dir_.server(i);
    EXPECT_FALSE(conn.BindToServer(s.host, s.tls_port, true, dir_.CaCertPath(), "", "")) << i;
    EXPECT_EQ(conn.GetTreeName(), "");
  }
  EXPECT_TRUE(conn.BindToServer(dir_.server(1).host, dir_.server(1).tls_port, true,
                                dir_.OtherCaCertPath(), "", ""));
  EXPECT_EQ(conn.GetTreeName(), "Other");

  // A silent peer over TLS: the handshake is bounded by the network
  // time-out too.
  SetNetworkTimeout(conn, 1);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(conn.BindToServer(dir_.silent_host(), dir_.silent_port(), true,
                                 dir_.CaCertPath(), "", ""));
  EXPECT_LT(SecondsSince(start), 4.0);
  SetNetworkTimeout(conn, 5);
#endif
}

}  // namespace
}  // namespace wendrel
