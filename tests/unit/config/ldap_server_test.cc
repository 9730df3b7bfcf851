#include "config/ldap_server.h"

#include <string>
#include <vector>

#include "config/registry_paths.h"
#include "gtest/gtest.h"
#include "tests/unit/support/registry_fixture.h"

namespace wendrel {
namespace {

using ServerTest = testing::RegistryTest;

TEST_F(ServerTest, MissingListThrowsButMissingSettingsGiveDefaults) {
  EXPECT_THROW(LDAPServer(), LDAPServer::BadReg);
  CreateKey("Software\\Tarvos\\LDAP");
  EXPECT_THROW(LDAPServer(), LDAPServer::BadReg);

  SetString(kServersKeyPath, "0", "ldap.example.com");
  LDAPServer server;
  EXPECT_EQ("ldap.example.com", server.FirstServer());
  EXPECT_EQ(5, server.ConnectionTimeout());
  EXPECT_EQ(20, server.SearchTimeout());
  EXPECT_EQ("", server.ProxyUsername());
  EXPECT_EQ("", server.ProxyPassword());
  EXPECT_FALSE(server.UseSSL());
  EXPECT_EQ("", server.Certificate());
  EXPECT_EQ(389, server.Port());
}

TEST_F(ServerTest, WalkEndsAtFirstGapOrEmptyEntry) {
  SetString(kServersKeyPath, "0", "first");
  SetString(kServersKeyPath, "2", "behind-gap");
  LDAPServer server;
  EXPECT_EQ("first", server.FirstServer());
  EXPECT_EQ("", server.NextServer());  // a walk stops here
  // The index moved on past the gap all the same; only a caller that ignores
  // the end of the walk would see the entry behind it.
  EXPECT_EQ("behind-gap", server.NextServer());
  EXPECT_EQ("", server.NextServer());
  EXPECT_EQ("", server.NextServer());
  EXPECT_EQ("first", server.FirstServer());  // restarts at 0

  SetString(kServersKeyPath, "1", "");
  SetString(kServersKeyPath, "2", "third");
  EXPECT_EQ("first", server.FirstServer());
  EXPECT_EQ("", server.NextServer());

  DeleteTree(kServersKeyPath);
  CreateKey(kServersKeyPath);
  LDAPServer empty;
  EXPECT_EQ("", empty.FirstServer());
}

TEST_F(ServerTest, ServerNamesUpTo260Characters) {
  const std::string longest(260, 'a');
  SetString(kServersKeyPath, "0", longest);
  SetString(kServersKeyPath, "1", std::string(261, 'b'));
  SetString(kServersKeyPath, "2", "unreached");
  // Stored without a terminator: the text is the stored bytes.
  SetRaw(kServerSettingsKeyPath, "Proxy Password 0", platform::kRegSz, {'p', 'w'});
  SetRaw(kServerSettingsKeyPath, "Proxy Username 1", platform::kRegSz,
         std::vector<uint8_t>(261, 'e'));
  SetString(kServerSettingsKeyPath, "Proxy Username 0", std::string(261, 'c'));
  SetString(kServerSettingsKeyPath, "Certificate 0", std::string(260, 'd'));
  LDAPServer server;
  EXPECT_EQ(longest, server.FirstServer());
  EXPECT_EQ("", server.ProxyUsername());
  EXPECT_EQ("pw", server.ProxyPassword());
  EXPECT_EQ(std::string(260, 'd'), server.Certificate());
  EXPECT_EQ("", server.NextServer());
  EXPECT_EQ("", server.ProxyUsername());  // 261 characters, none of them a terminator
}

TEST_F(ServerTest, SettingsFollowTheCurrentIndex) {
  SetString(kServersKeyPath, "0", "zero");
  SetString(kServersKeyPath, "1", "one");
  // Server 0 keeps the defaults; server 1 sets everything.
  SetDword(kServerSettingsKeyPath, "ConnectionTimeout 1", 7);
  SetDword(kServerSettingsKeyPath, "Search Timeout 1", 45);
  SetString(kServerSettingsKeyPath, "Proxy Username 1", "cn=proxy,o=acme");
  SetString(kServerSettingsKeyPath, "Proxy Password 1", "secret");
  SetString(kServerSettingsKeyPath, "Certificate 1", "C:\\certs\\ca.pem");
  SetDword(kServerSettingsKeyPath, "Clear Text 1", 0);
  SetDword(kServerSettingsKeyPath, "SSL Port 1", 1636);
  // Spelt the other way round: not the values the settings are read from.
  SetDword(kServerSettingsKeyPath, "Connection Timeout 0", 99);
  SetDword(kServerSettingsKeyPath, "SearchTimeout 0", 99);

  LDAPServer server;
  // Before the walk the settings are server 0's.
  EXPECT_EQ(389, server.Port());
  EXPECT_EQ("zero", server.FirstServer());
  EXPECT_EQ(5, server.ConnectionTimeout());
  EXPECT_EQ(20, server.SearchTimeout());
  EXPECT_FALSE(server.UseSSL());
  EXPECT_EQ("one", server.NextServer());
  EXPECT_EQ(7, server.ConnectionTimeout());
  EXPECT_EQ(45, server.SearchTimeout());
  EXPECT_EQ("cn=proxy,o=acme", server.ProxyUsername());
  EXPECT_EQ("secret", server.ProxyPassword());
  EXPECT_EQ("C:\\certs\\ca.pem", server.Certificate());
  EXPECT_TRUE(server.UseSSL());
  EXPECT_EQ(1636, server.Port());

  // Past the end the getters read the settings of the indexes beyond it.
  EXPECT_EQ("", server.NextServer());
  EXPECT_EQ(389, server.Port());
  SetDword(kServerSettingsKeyPath, "Port 2", 2389);
  EXPECT_EQ(2389, server.Port());
}

TEST_F(ServerTest, ClearTextChoosesThePort) {
  SetString(kServersKeyPath, "0", "host");
  SetDword(kServerSettingsKeyPath, "Port 0", 1389);
  LDAPServer server;
  server.FirstServer();
  // "Clear Text" missing: plain LDAP on the stored port.
  EXPECT_FALSE(server.UseSSL());
  EXPECT_EQ(1389, server.Port());
  // Any non-zero value is plain LDAP.
  SetDword(kServerSettingsKeyPath, "Clear Text 0", 5);
  EXPECT_FALSE(server.UseSSL());
  EXPECT_EQ(1389, server.Port());
  // 0 is TLS: the plain port does not matter, the TLS port defaults to 636.
  SetDword(kServerSettingsKeyPath, "Clear Text 0", 0);
  EXPECT_TRUE(server.UseSSL());
  EXPECT_EQ(636, server.Port());
  SetDword(kServerSettingsKeyPath, "SSL Port 0", 1636);
  EXPECT_EQ(1636, server.Port());
  // Changes between calls are seen at once.
  DeleteValue(kServerSettingsKeyPath, "Clear Text 0");
  EXPECT_FALSE(server.UseSSL());
  EXPECT_EQ(1389, server.Port());
}

}  // namespace
}  // namespace wendrel
