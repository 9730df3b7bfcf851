// The administrator's events of whole logins against real slapd servers,
// read where the native event log's seam ($WENDREL_EVENT_LOG) sends them:
// each case is a configuration, a number of logins of asmith in tree A, and
// the whole event file those logins leave.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "config/registry_paths.h"
#include "gtest/gtest.h"
#include "platform/environment.h"
#include "platform/event_log.h"
#include "tests/integration/core/host_double.h"

namespace wendrel {
namespace testing {
namespace {

namespace fs = std::filesystem;

// The servers of the fixture the cases configure. Directory servers: 0 of
// tree A, 1 of tree B, 2 of tree A with a certificate from another CA, 3 of
// tree A behind a proxy that answers the first search (the tree-name read)
// with "other".
enum class Server { kA, kB, kTlsOtherCa, kSilent, kClosed, kAWithWrongPassword, kNoTreeName };

struct EventCase {
  const char* name;
  std::vector<Server> servers;
  std::vector<std::pair<std::string, uint32_t>> options;
  int logins;
  bool read_only_store;   // the cache cannot be written
  bool wrong_types;       // "Search Timeout 0" as the text "7", "Certificate 0" expandable
  std::string context;    // what the last login wrote back
  // {A} {B} {T} {S} {C} {N}: a server as configured, name:port; {HA} server 0's
  // name; {CA} the trusted file; {DN} the proxy DN.
  std::vector<std::string> events;
};

const std::vector<std::pair<std::string, uint32_t>> kCache = {{"UseCachedResults", 1}};
const std::vector<std::pair<std::string, uint32_t>> kBoth = {{"UseCachedResults", 1},
                                                             {"Log Successful Logins", 1}};

const EventCase kCases[] = {
    {"SuccessIsNotLoggedByDefault", {Server::kA}, {}, 1, false, false, "eng.A", {}},
    {"SilentServer", {Server::kSilent, Server::kA}, {}, 1, false, false, "eng.A",
     {"1001 Warning The directory server {S} was skipped: no connection could be made to it "
      "(no answer within 1 second)."}},
    {"BindRefused", {Server::kAWithWrongPassword}, {}, 1, false, false, "eng.A",
     {"1002 Warning The directory server {A} refused the bind as {DN} (Invalid credentials, code "
      "0x31). Without those credentials it was searched only if it still gave its tree name."}},
    {"NoTreeName", {Server::kNoTreeName, Server::kA}, {}, 1, false, false, "eng.A",
     {"1003 Warning The directory server {N} was skipped: it accepted the bind, but its tree "
      "name could not be read."}},
    {"OtherTree", {Server::kB, Server::kA}, {}, 1, false, false, "eng.A",
     {"1004 Information The directory server {B} was not searched: it serves the tree B, not the "
      "tree the login asked for."}},
    {"CertificateRefused", {Server::kTlsOtherCa, Server::kA}, {}, 1, false, false, "eng.A",
     {"1005 Error The directory server {T} was skipped: its TLS certificate was refused "
      "(untrusted). The trusted certificate file is {CA}."}},
    // Twenty failing logins in one process: each event once.
    {"NoUsableServer", {Server::kClosed}, {}, 20, false, false, "",
     {"1001 Warning The directory server {C} was skipped: no connection could be made to it "
      "(LDAP Server is unavailable.).",
      "1010 Error No directory server could be used for a login, and the user was told so. The "
      "servers configured are: {C}."}},
    {"CacheNotWritable", {Server::kA}, kCache, 1, true, false, "eng.A",
     {"1020 Error The results cache could not be written while creating the cache entry's key "
      "(error 5). Logins are looked up in the directory until it can be written."}},
    {"SettingOfTheWrongType", {Server::kA}, {}, 1, false, true, "eng.A",
     {"1030 Warning The setting Certificate 0 in "
      "HKEY_LOCAL_MACHINE\\Software\\Tarvos\\LDAP\\Servers\\settings is stored as "
      "REG_EXPAND_SZ, not as its documented REG_SZ; it was read as a text of 1 character.",
      "1030 Warning The setting Search Timeout 0 in "
      "HKEY_LOCAL_MACHINE\\Software\\Tarvos\\LDAP\\Servers\\settings is stored as REG_SZ, not as "
      "its documented REG_DWORD; it was read as the number 55."}},
    {"SuccessFromTheServerThenTheCache", {Server::kA}, kBoth, 2, false, false, "eng.A",
     {"1100 Information A login was resolved to cn=asmith.ou=eng.o=A in the tree A (the "
      "directory server {HA}).",
      "1100 Information A login was resolved to cn=asmith.ou=eng.o=A in the tree A (the results "
      "cache)."}},
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void ReplaceAll(std::string* text, const std::string& from, const std::string& to) {
  for (size_t at = text->find(from); at != std::string::npos;
       at = text->find(from, at + to.size())) {
    text->replace(at, from.size(), to);
  }
}

class LoginEventsTest : public HostedLoginTest {
 protected:
  void SetUp() override {
    HostedLoginTest::SetUp();
    path_ = platform::TemporaryDirectory() + "/wendrel-login-events-" +
            std::to_string(platform::CurrentProcessId());
    platform::SetEnvironmentVariable("WENDREL_EVENT_LOG", path_);
  }
  void TearDown() override {
    platform::SetEnvironmentVariable("WENDREL_EVENT_LOG", "");
    platform::RemoveFile(path_);
    platform::ResetEventFloodControlForTesting();
    HostedLoginTest::TearDown();
  }

  ServerConfig Configured(Server server) const {
    switch (server) {
      case Server::kA: return Plain(0);
      case Server::kB: return Plain(1);
      case Server::kTlsOtherCa: return Tls(2);
      case Server::kSilent: return Silent();
      case Server::kClosed: return Closed();
      case Server::kNoTreeName: {
        ServerConfig config = Plain(3);
        config.port = dir_.server(3).proxy_port;
        return config;
      }
      case Server::kAWithWrongPassword: {
        ServerConfig config = Plain(0);
        config.proxy_username = dir_.server(0).admin_dn;
        config.proxy_password = "wrong";
        return config;
      }
    }
    return {};
  }

  static std::string Id(const ServerConfig& s) { return s.host + ":" + std::to_string(s.port); }

  std::string Expected(const EventCase& c) const {
    std::string text;
    for (const std::string& line : c.events) text += line + "\n";
    ReplaceAll(&text, "{A}", Id(Plain(0)));
    ReplaceAll(&text, "{B}", Id(Plain(1)));
    ReplaceAll(&text, "{T}", Id(Tls(2)));
    ReplaceAll(&text, "{S}", Id(Silent()));
    ReplaceAll(&text, "{C}", Id(Closed()));
    ReplaceAll(&text, "{N}", Id(Configured(Server::kNoTreeName)));
    ReplaceAll(&text, "{HA}", dir_.server(0).host);
    ReplaceAll(&text, "{CA}", dir_.CaCertPath());
    ReplaceAll(&text, "{DN}", dir_.server(0).admin_dn);
    return text;
  }

  std::string path_;
};

TEST_F(LoginEventsTest, EachCaseWritesExactlyItsEvents) {
  ASSERT_TRUE(dir_.Start({"A", "B", "A:tls=otherca", "A:fault=other@search"})) << dir_.error();
  for (const EventCase& c : kCases) {
    SCOPED_TRACE(c.name);
    platform::RemoveFile(path_);
    platform::ResetEventFloodControlForTesting();
    DeleteTree(kOptionsKeyPath);
    DeleteTree(kCachedResultsKeyPath);
    std::vector<ServerConfig> servers;
    for (Server s : c.servers) servers.push_back(Configured(s));
    ReplaceServers(servers);
    SetTrees({"A"});
    std::vector<std::pair<std::string, uint32_t>> options = c.options;
    options.emplace_back("Contextless Login Enabled", 1);
    SetOptions(options);
    if (c.wrong_types) {
      SetString(kServerSettingsKeyPath, "Search Timeout 0", "7");
      SetRaw(kServerSettingsKeyPath, "Certificate 0", platform::kRegExpandSz, {'x', 0});
    }
    if (c.read_only_store) fs::permissions(store_path(), fs::perms::all, fs::perm_options::remove);

    std::string context;
    for (int i = 0; i < c.logins; ++i) {
      HostRecord record("asmith", "A");
      context = Login(record).context;
    }
    if (c.read_only_store) {
      fs::permissions(store_path(), fs::perms::owner_all, fs::perm_options::add);
    }
    EXPECT_EQ(context, c.context);
    EXPECT_EQ(ReadFile(path_), Expected(c));
  }
}

}  // namespace
}  // namespace testing
}  // namespace wendrel
