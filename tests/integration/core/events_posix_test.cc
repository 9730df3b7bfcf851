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

enum Setup { kPlain, kReadOnlyStore, kWrongTypes };

struct EventCase {
  const char* name;
  // Configured in this order: A and B, the fixture's servers of trees A and
  // B; S, its silent listener; C, its closed port; N, a server of tree A
  // whose tree-name read fails; P, A with a proxy password it refuses.
  std::string servers;
  std::vector<std::pair<std::string, uint32_t>> options;
  int logins;
  Setup setup;  // the cache cannot be written, or two settings have the wrong type
  std::string context;  // what the last login wrote back
  // {X}: server X as configured, name:port; {HA} A's name; {DN} the proxy DN.
  std::vector<std::string> events;
};

const EventCase kCases[] = {
    {"SilentServer", "SA", {}, 1, kPlain, "eng.A",
     {"1001 Warning The directory server {S} was skipped: no connection could be made to it "
      "(no answer within 1 second)."}},
    {"BindRefused", "P", {}, 1, kPlain, "eng.A",
     {"1002 Warning The directory server {A} refused the bind as {DN} (Invalid credentials, code "
      "0x31). Without those credentials it was searched only if it still gave its tree name."}},
    {"NoTreeName", "NA", {}, 1, kPlain, "eng.A",
     {"1003 Warning The directory server {N} was skipped: it accepted the bind, but its tree "
      "name could not be read."}},
    {"OtherTree", "BA", {}, 1, kPlain, "eng.A",
     {"1004 Information The directory server {B} was not searched: it serves the tree B, not the "
      "tree the login asked for."}},
    // Twenty failing logins in one process: each event once.
    {"NoUsableServer", "C", {}, 20, kPlain, "",
     {"1001 Warning The directory server {C} was skipped: no connection could be made to it "
      "(LDAP Server is unavailable.).",
      "1010 Error No directory server could be used for a login, and the user was told so. The "
      "servers configured are: {C}."}},
    {"CacheNotWritable", "A", {{"UseCachedResults", 1}}, 1, kReadOnlyStore, "eng.A",
     {"1020 Error The results cache could not be written while creating the cache entry's key "
      "(error 5). Logins are looked up in the directory until it can be written."}},
    // "Search Timeout 0" as the text "7", "Certificate 0" as an expandable text.
    {"SettingOfTheWrongType", "A", {}, 1, kWrongTypes, "eng.A",
     {"1030 Warning The setting Certificate 0 in "
      "HKEY_LOCAL_MACHINE\\Software\\Tarvos\\LDAP\\Servers\\settings is stored as "
      "REG_EXPAND_SZ, not as its documented REG_SZ; it was read as a text of 1 character.",
      "1030 Warning The setting Search Timeout 0 in "
      "HKEY_LOCAL_MACHINE\\Software\\Tarvos\\LDAP\\Servers\\settings is stored as REG_SZ, not as "
      "its documented REG_DWORD; it was read as the number 55."}},
    {"SuccessFromTheServerThenTheCache", "A",
     {{"UseCachedResults", 1}, {"Log Successful Logins", 1}}, 2, kPlain, "eng.A",
     {"1100 Information A login was resolved to cn=asmith.ou=eng.o=A in the tree A (the "
      "directory server {HA}).",
      "1100 Information A login was resolved to cn=asmith.ou=eng.o=A in the tree A (the results "
      "cache)."}},
};

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

  ServerConfig Configured(char server) const {
    ServerConfig config = server == 'B' ? Plain(1) : server == 'N' ? Plain(2) : Plain(0);
    if (server == 'S') config = Silent();
    if (server == 'C') config = Closed();
    if (server == 'N') config.port = dir_.server(2).proxy_port;
    if (server == 'P') config.proxy_username = dir_.server(0).admin_dn;
    if (server == 'P') config.proxy_password = "wrong";
    return config;
  }

  std::string Expected(const EventCase& c) const {
    std::string text;
    for (const std::string& line : c.events) text += line + "\n";
    std::vector<std::pair<std::string, std::string>> values = {
        {"{HA}", dir_.server(0).host}, {"{DN}", dir_.server(0).admin_dn}};
    for (char server : std::string("ABSCN")) {
      const ServerConfig config = Configured(server);
      values.push_back({std::string("{") + server + "}",
                        config.host + ":" + std::to_string(config.port)});
    }
    for (const auto& value : values) {
      for (size_t at = text.find(value.first); at != std::string::npos;
           at = text.find(value.first, at + value.second.size())) {
        text.replace(at, value.first.size(), value.second);
      }
    }
    return text;
  }

  std::string path_;
};

TEST_F(LoginEventsTest, EachCaseWritesExactlyItsEvents) {
  ASSERT_TRUE(dir_.Start({"A", "B", "A:fault=other@search"})) << dir_.error();
  for (const EventCase& c : kCases) {
    SCOPED_TRACE(c.name);
    platform::RemoveFile(path_);
    platform::ResetEventFloodControlForTesting();
    DeleteTree(kOptionsKeyPath);
    DeleteTree(kCachedResultsKeyPath);
    std::vector<ServerConfig> servers;
    for (char server : c.servers) servers.push_back(Configured(server));
    ReplaceServers(servers);
    SetTrees({"A"});
    std::vector<std::pair<std::string, uint32_t>> options = c.options;
    options.emplace_back("Contextless Login Enabled", 1);
    SetOptions(options);
    if (c.setup == kWrongTypes) {
      SetString(kServerSettingsKeyPath, "Search Timeout 0", "7");
      SetRaw(kServerSettingsKeyPath, "Certificate 0", platform::kRegExpandSz, {'x', 0});
    }
    if (c.setup == kReadOnlyStore) {
      fs::permissions(store_path(), fs::perms::all, fs::perm_options::remove);
    }
    std::string context;
    for (int i = 0; i < c.logins; ++i) {
      HostRecord record("asmith", "A");
      context = Login(record).context;
    }
    if (c.setup == kReadOnlyStore) {
      fs::permissions(store_path(), fs::perms::owner_all, fs::perm_options::add);
    }
    std::ifstream log(path_, std::ios::binary);
    EXPECT_EQ(std::make_pair(context, std::string(std::istreambuf_iterator<char>(log), {})),
              std::make_pair(c.context, Expected(c)));
  }
}

}  // namespace
}  // namespace testing
}  // namespace wendrel
