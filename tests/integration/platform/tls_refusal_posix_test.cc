// Natively, a TLS server whose certificate the trusted file does not vouch
// for fails the first bind with the connect error, whether or not a network
// time-out is set: libldap itself reports such a handshake as "server down",
// which would make the server look unreachable. A port where nothing
// listens stays "server down".

#include <map>
#include <string>

#include "gtest/gtest.h"
#include "platform/ldap.h"
#include "platform/ldap_owners.h"
#include "tests/integration/support/directory_fixture.h"

namespace wendrel {
namespace platform {
namespace {

// The result code of the first bind on a TLS handle to host:port.
int FirstBindCode(const std::string& host, int port) {
  LdapHandleOwner ld(LdapSslInit(host.c_str(), port, 1));
  if (ld == nullptr) return -1;
  if (LdapSimpleBind(ld.get(), "", "") != -1) return kLdapSuccess;
  int code = 0;
  LdapGetOption(ld.get(), kLdapOptResultCode, &code);
  return code;
}

TEST(TlsRefusalTest, RefusedCertificateIsAConnectErrorWithOrWithoutANetworkTimeout) {
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
