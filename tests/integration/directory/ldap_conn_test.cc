// LDAPConn against real slapd servers, on both builds (natively over
// libldap, on Windows over Wine's wldap32): binding plain and over TLS, the
// tree name, the time-outs, searches and their failures, and the records.

#include "directory/ldap_conn.h"

#include <chrono>
#include <map>
#include <ostream>
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

using testing::SecondsSince;

class RecordingPresenter : public platform::MessageBoxPresenter {
 public:
  int Show(const std::string&, const std::string& text, uint32_t style) override {
    boxes.push_back(text + " " + std::to_string(style));
    return platform::kIdOk;
  }
  std::vector<std::string> boxes;  // text and style
};

// One record of a result, whole.
struct Record {
  std::string user, fdn, context, context_fdn;
  std::map<std::string, std::string> attributes;
  bool operator==(const Record& o) const {
    return user == o.user && fdn == o.fdn && context == o.context &&
           context_fdn == o.context_fdn && attributes == o.attributes;
  }
};

void PrintTo(const Record& r, std::ostream* out) {
  *out << "{" << r.user << ", " << r.fdn << ", " << r.context << ", " << r.context_fdn;
  for (const auto& a : r.attributes) *out << ", " << a.first << "=" << a.second;
  *out << "}";
}

// The records GetResults gives.
std::vector<Record> Records(LDAPConn& conn) {
  UserData users("jdoe", "corp");
  conn.GetResults(users);
  std::vector<Record> out;
  for (UserObj* u = users.GetFirstUser(); u != nullptr; u = users.GetNextUser()) {
    out.push_back({u->GetUser(), u->GetUserFDN(), u->GetUserContext(), u->GetUserContextFDN(),
                   u->GetAttributes()});
  }
  return out;
}

// Two plain servers, and TLS servers whose certificates are issued by the
// fixture CA (Good), by another CA (Other), expired (Old) or for another
// host (Wrong).
const std::vector<std::string> kPlain = {"corp", "other"};
const std::vector<std::string> kTls = {"Good:tls=good", "Other:tls=otherca", "Old:tls=expired",
                                       "Wrong:tls=wronghost"};

class LDAPConnTest : public ::testing::Test {
 protected:
  static void TearDownTestSuite() { testing::StopSharedDirectories(); }
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

  // The servers of `specs`, shared by the tests of the suite; a test that
  // freezes one thaws it.
  bool Use(const std::vector<std::string>& specs) {
    std::string error;
    dir_ = testing::SharedDirectory(specs, &error);
    EXPECT_EQ(error, "");
    return dir_ != nullptr;
  }
  // The network time-out, set the way the workers and the search set it.
  static void SetNetworkTimeout(LDAPConn& conn, int seconds) {
    LdapTimeval tv = {seconds, 0};
    conn.SetOption(platform::kLdapOptNetworkTimeout, static_cast<const void*>(&tv));
  }
  const DirectoryServer& S(size_t i) const { return dir_->server(i); }
  bool Bind(LDAPConn& conn, size_t i) const {
    return conn.BindToServer(S(i).host, S(i).port, false, "", "", "");
  }
  bool BindTls(LDAPConn& conn, size_t i, const std::string& certificate) const {
    return conn.BindToServer(S(i).host, S(i).tls_port, true, certificate, "", "");
  }

  DirectoryFixture* dir_ = nullptr;
  RecordingPresenter presenter_;
  platform::MessageBoxPresenter* previous_presenter_ = nullptr;
};

TEST_F(LDAPConnTest, BindsReadsTreeNameAndTurnsEntriesIntoRecords) {
  ASSERT_TRUE(Use(kPlain));
  LDAPConn conn(false);
  SetNetworkTimeout(conn, 5);
  // The object moves from server to server as the user search does; each
  // bind reads that server's tree name.
  ASSERT_TRUE(Bind(conn, 1));
  EXPECT_EQ(conn.GetTreeName(), "other");
  ASSERT_TRUE(Bind(conn, 0));
  EXPECT_EQ(conn.GetTreeName(), "corp");
  EXPECT_TRUE(conn.QuickBind(S(1).host, S(1).port, false, "", "", ""));
  EXPECT_EQ(conn.GetTreeName(), "");  // emptied by every bind operation
  ASSERT_TRUE(Bind(conn, 0));

  LdapTimeval limit = {10, 0};
  conn.Search("o=corp", "(|(cn=jdoe)(cn=zoe))", platform::kLdapScopeSubtree, kSearchAttributes,
              &limit);
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

  // The bind's verdict is not examined: only the tree name counts.
  const DirectoryServer& s = S(0);
  EXPECT_TRUE(conn.BindToServer(s.host, s.port, false, "", s.admin_dn, "wrong"));
  EXPECT_EQ(conn.GetTreeName(), "corp");
  EXPECT_TRUE(conn.BindToServer(s.host, s.port, false, "", s.admin_dn, s.password));
  EXPECT_EQ(conn.GetTreeName(), "corp");
  EXPECT_TRUE(conn.QuickBind(s.host, s.port, false, "", s.admin_dn, "wrong"));
}

TEST_F(LDAPConnTest, UnreachableServersFailWithinTheirTimeouts) {
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
    double took = SecondsSince(start);
    EXPECT_GE(took, 0.8);
    EXPECT_LT(took, 4.0);
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

TEST_F(LDAPConnTest, SearchFailures) {
  ASSERT_TRUE(Use(kPlain));
  LDAPConn conn(false);
  SetNetworkTimeout(conn, 5);
  ASSERT_TRUE(Bind(conn, 0));
  LdapTimeval limit = {5, 0};
  // A context that does not exist: told once, and the search goes on.
  conn.Search("ou=nowhere,o=corp", "(cn=jdoe)", platform::kLdapScopeOneLevel, kSearchAttributes,
              &limit);
  const std::vector<std::string> box = {
      "Invalid scope context specified. Searching will continue. 16"};
  EXPECT_EQ(presenter_.boxes, box);
  EXPECT_EQ(Records(conn), std::vector<Record>());

  // Any other failure is thrown as its text.
  try {
    conn.Search("o=corp", "(cn=jdoe", platform::kLdapScopeSubtree, kSearchAttributes, &limit);
    ADD_FAILURE() << "no exception";
  } catch (const std::string& text) {
    EXPECT_EQ(text, "LDAP Error: 0x57");
  }

  // A server that stops answering mid-session: the search's time limit
  // gives message 19.
  ASSERT_TRUE(dir_->Freeze(0)) << dir_->error();
  LdapTimeval one = {1, 0};
  auto start = std::chrono::steady_clock::now();
  try {
    conn.Search("o=corp", "(cn=jdoe)", platform::kLdapScopeSubtree, kSearchAttributes, &one);
    ADD_FAILURE() << "no exception";
  } catch (int id) {
    EXPECT_EQ(id, 19);
  }
  EXPECT_LT(SecondsSince(start), 5.0);
  ASSERT_TRUE(dir_->Thaw(0)) << dir_->error();
  EXPECT_EQ(conn.GetErrorText(), "Timeout exceeded while searching for user.");
  EXPECT_EQ(presenter_.boxes, box);
}

TEST_F(LDAPConnTest, TlsBindsOnlyWithALoadableCertificate) {
  ASSERT_TRUE(Use(kTls));
  LDAPConn conn(true);
  SetNetworkTimeout(conn, 5);
  const DirectoryServer& good = S(0);
  // A certificate file that is missing or holds no certificate: message 25.
  for (const std::string& path : {dir_->CaCertPath() + ".missing", dir_->NonCertificatePath()}) {
    try {
      BindTls(conn, 0, path);
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
  for (const std::string& path : {dir_->CaCertPath(), dir_->CaCertDerPath()}) {
    EXPECT_FALSE(BindTls(conn, 0, path)) << path;
    EXPECT_FALSE(conn.QuickBind(good.host, good.tls_port, true, path, "", "")) << path;
  }
#else
  EXPECT_TRUE(BindTls(conn, 0, dir_->CaCertPath()));
  EXPECT_EQ(conn.GetTreeName(), "Good");
  EXPECT_TRUE(conn.QuickBind(good.host, good.tls_port, true, dir_->CaCertPath(), "", ""));
  EXPECT_TRUE(BindTls(conn, 0, dir_->CaCertDerPath()));
  // Servers the trusted file does not vouch for: not bound, no exception.
  for (size_t i : {1u, 2u, 3u}) {
    EXPECT_FALSE(BindTls(conn, i, dir_->CaCertPath())) << i;
    EXPECT_EQ(conn.GetTreeName(), "");
  }
  EXPECT_TRUE(BindTls(conn, 1, dir_->OtherCaCertPath()));
  EXPECT_EQ(conn.GetTreeName(), "Other");

  // A silent peer over TLS: the handshake is bounded by the network
  // time-out too.
  SetNetworkTimeout(conn, 1);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(conn.BindToServer(dir_->silent_host(), dir_->silent_port(), true,
                                 dir_->CaCertPath(), "", ""));
  EXPECT_LT(SecondsSince(start), 4.0);
#endif
}

}  // namespace
}  // namespace wendrel
