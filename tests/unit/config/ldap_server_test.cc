#include "config/ldap_server.h"

#include <string>
#include <tuple>
#include <vector>

#include "config/registry_paths.h"
#include "gtest/gtest.h"
#include "tests/unit/support/registry_fixture.h"

namespace wendrel {
namespace {

using ServerTest = testing::RegistryTest;

// Connection and search timeouts, proxy name and password, TLS, certificate
// and port of the current server.
using Settings = std::tuple<int32_t, int32_t, std::string, std::string, bool, std::string, int32_t>;
const Settings kDefaults{5, 20, "", "", false, "", 389};

Settings SettingsOf(const LDAPServer& s) {
  return Settings{s.ConnectionTimeout(), s.SearchTimeout(), s.ProxyUsername(), s.ProxyPassword(),
                  s.UseSSL(),            s.Certificate(),   s.Port()};
}

TEST_F(ServerTest, MissingListThrowsButMissingSettingsGiveDefaults) {
  EXPECT_THROW(LDAPServer(), LDAPServer::BadReg);
  CreateKey("Software\\Tarvos\\LDAP");
  EXPECT_THROW(LDAPServer(), LDAPServer::BadReg);

  SetString(kServersKeyPath, "0", "ldap.example.com");
  LDAPServer server;
  EXPECT_EQ("ldap.example.com", server.FirstServer());
  EXPECT_EQ(kDefaults, SettingsOf(server));
}

TEST_F(ServerTest, WalkEndsAtFirstGapOrEmptyEntry) {
  SetString(kServersKeyPath, "0", "first");
  SetString(kServersKeyPath, "2", "behind-gap");
  LDAPServer server;
  // A walk stops at the gap; the index moved on past it all the same: only a
  // caller that ignores the end of the walk would see the entry behind it.
  // FirstServer restarts at 0.
  std::vector<std::string> answers = {server.FirstServer(), server.NextServer(),
                                      server.NextServer(), server.NextServer(),
                                      server.NextServer(), server.FirstServer()};
  EXPECT_EQ((std::vector<std::string>{"first", "", "behind-gap", "", "", "first"}), answers);

  SetString(kServersKeyPath, "1", "");
  SetString(kServersKeyPath, "2", "third");
  EXPECT_EQ("first", server.FirstServer());
  EXPECT_EQ("", server.NextServer());

  DeleteTree(kServersKeyPath);
  CreateKey(kServersKeyPath);
  EXPECT_EQ("", LDAPServer().FirstServer());
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
  EXPECT_EQ(Settings(5, 20, "", "pw", false, std::string(260, 'd'), 389), SettingsOf(server));
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
  EXPECT_EQ(kDefaults, SettingsOf(server));
  EXPECT_EQ("zero", server.FirstServer());
  EXPECT_EQ(kDefaults, SettingsOf(server));
  EXPECT_EQ("one", server.NextServer());
  EXPECT_EQ(Settings(7, 45, "cn=proxy,o=acme", "secret", true, "C:\\certs\\ca.pem", 1636),
            SettingsOf(server));

  // Past the end the getters read the settings of the indexes beyond it.
  EXPECT_EQ("", server.NextServer());
  EXPECT_EQ(389, server.Port());
  SetDword(kServerSettingsKeyPath, "Port 2", 2389);
  EXPECT_EQ(2389, server.Port());
}

// "Clear Text" missing or any non-zero value is plain LDAP on the stored
// port; 0 is TLS, where the plain port does not matter and the TLS port
// defaults to 636. Changes between calls are seen at once.
TEST_F(ServerTest, ClearTextChoosesThePort) {
  SetString(kServersKeyPath, "0", "host");
  SetDword(kServerSettingsKeyPath, "Port 0", 1389);
  LDAPServer server;
  server.FirstServer();
  auto tls_and_port = [&server] { return std::make_pair(server.UseSSL(), server.Port()); };
  EXPECT_EQ(std::make_pair(false, 1389), tls_and_port());
  SetDword(kServerSettingsKeyPath, "Clear Text 0", 5);
  EXPECT_EQ(std::make_pair(false, 1389), tls_and_port());
  SetDword(kServerSettingsKeyPath, "Clear Text 0", 0);
  EXPECT_EQ(std::make_pair(true, 636), tls_and_port());
  SetDword(kServerSettingsKeyPath, "SSL Port 0", 1636);
  EXPECT_EQ(std::make_pair(true, 1636), tls_and_port());
  DeleteValue(kServerSettingsKeyPath, "Clear Text 0");
  EXPECT_EQ(std::make_pair(false, 1389), tls_and_port());
}

}  // namespace
}  // namespace wendrel
