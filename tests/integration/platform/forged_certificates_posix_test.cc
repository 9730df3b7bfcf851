// The LDAP port natively against what an attacker presents: real slapd TLS
// listeners sending a self-signed copy of the trusted CA, a server
// certificate of a fake CA of the same subject and serial number, and an
// honest chain through an intermediate CA. The TLS connection is used only
// when the server's chain really reaches a certificate of the trusted file.

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/ldap.h"
#include "platform/ldap_owners.h"
#include "tests/integration/support/directory_fixture.h"

namespace wendrel {
namespace platform {
namespace {

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

TEST(ForgedCertificatePortTest, OnlyChainsThatReallyReachTheFileConnect) {
  testing::DirectoryFixture dir;
  ASSERT_TRUE(dir.Start({"Good:tls=good", "Forged:tls=forgedca", "Fake:tls=fakeca",
                         "Chain:tls=chain", "Leaf:tls=forgedleaf"}))
      << dir.error();
  int version = 3;
  ASSERT_EQ(LdapSetOption(nullptr, kLdapOptProtocolVersion, &version), kLdapSuccess);
  ASSERT_EQ(LdapSslClientInit(nullptr, nullptr), 0);
  const std::string ca = dir.CaCertPath();
  const std::string intermediate = dir.IntermediateCertPath();
  const std::string with_forgery = dir.CaWithForgeryPath();
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
    const std::string what = dir.server(c.server).tree + " against " + c.trusted_file + ": ";
    expected.push_back(what + c.tree);
    seen.push_back(what + TreeOverTls(dir.server(c.server), c.trusted_file));
  }
  EXPECT_EQ(expected, seen);
  LdapSslClientDeinit();
}

}  // namespace
}  // namespace platform
}  // namespace wendrel
