#include "tests/integration/search/search_fixture.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>

#include "config/registry_paths.h"
#include "directory/server_probe.h"
#include "directory/unreachable_servers.h"
#include "results/user_data.h"
#include "search/ldap_search_user.h"

namespace wendrel {
namespace testing {

int RecordingPresenter::Show(const std::string& caption, const std::string& text,
                             uint32_t style) {
  boxes.push_back({caption, text, style});
  if (on_show) on_show(boxes.back());
  return (style & 0xF) == platform::kMbYesNo ? question_answer : platform::kIdOk;
}

bool operator==(const ShownBox& a, const ShownBox& b) {
  return a.caption == b.caption && a.text == b.text && a.style == b.style;
}

std::ostream& operator<<(std::ostream& out, const ShownBox& box) {
  return out << "{" << box.caption << ": \"" << box.text << "\", style 0x" << std::hex
             << box.style << std::dec << "}";
}

bool operator==(const SearchOutcome& a, const SearchOutcome& b) {
  return a.error == b.error && a.server == b.server && a.tree == b.tree && a.users == b.users &&
         a.boxes == b.boxes;
}

std::ostream& operator<<(std::ostream& out, const SearchOutcome& o) {
  out << "{error \"" << o.error << "\", server " << o.server << ", tree " << o.tree << ", users";
  for (const std::string& user : o.users) out << " " << user;
  out << ", boxes";
  for (const ShownBox& box : o.boxes) out << " " << box;
  return out << "}";
}

SearchOutcome SearchTest::RunUserSearch(UserData& request) {
  SearchOutcome outcome;
  const size_t boxes_before = presenter_.boxes.size();
  const auto start = std::chrono::steady_clock::now();
  try {
    LDAPSearchUser search;
    search.SearchForAUser(request);
  } catch (const std::string& text) {
    outcome.error = text;
  } catch (const LDAPSearchUser::SearchCancelled&) {
    outcome.error = "<cancelled>";
  }
  outcome.seconds = SecondsSince(start);
  outcome.server = request.GetServerName();
  outcome.tree = request.GetTreeName();
  for (UserObj* u = request.GetFirstUser(); u != nullptr; u = request.GetNextUser()) {
    outcome.users.push_back(u->GetUser() + "@" + u->GetUserContext());
  }
  outcome.boxes.assign(presenter_.boxes.begin() + boxes_before, presenter_.boxes.end());
  return outcome;
}

SearchOutcome SearchTest::RunUserSearch(const std::string& name, const std::string& tree) {
  UserData request(name, tree);
  return RunUserSearch(request);
}

void SearchTest::SetUp() {
  RegistryTest::SetUp();
  previous_ = platform::SetMessageBoxPresenter(&presenter_);
  UnreachableServers::Instance().Clear();
}

void SearchTest::TearDown() {
  // Every probe ends: cancelled ones at once, others by their time-out.
  EXPECT_TRUE(WaitForProbesToEnd(10000));
  UnreachableServers::Instance().Clear();
  platform::SetMessageBoxPresenter(previous_);
  for (const std::string& file : files_) std::remove(HostPath(file).c_str());
  RegistryTest::TearDown();
}

void SearchTest::SetOptions(const std::vector<std::pair<std::string, uint32_t>>& options) {
  CreateKey(kOptionsKeyPath);
  for (const auto& option : options) SetDword(kOptionsKeyPath, option.first, option.second);
}

void SearchTest::SetServers(const std::vector<ServerConfig>& servers) {
  CreateKey(kServersKeyPath);
  CreateKey(kServerSettingsKeyPath);
  for (size_t i = 0; i < servers.size(); ++i) {
    const ServerConfig& s = servers[i];
    const std::string n = " " + std::to_string(i);
    SetString(kServersKeyPath, std::to_string(i), s.host);
    SetDword(kServerSettingsKeyPath, "Clear Text" + n, s.use_ssl ? 0 : 1);
    SetDword(kServerSettingsKeyPath, (s.use_ssl ? "SSL Port" : "Port") + n,
             static_cast<uint32_t>(s.port));
    SetDword(kServerSettingsKeyPath, "ConnectionTimeout" + n,
             static_cast<uint32_t>(s.connection_timeout));
    SetDword(kServerSettingsKeyPath, "Search Timeout" + n,
             static_cast<uint32_t>(s.search_timeout));
    if (!s.certificate.empty()) SetString(kServerSettingsKeyPath, "Certificate" + n, s.certificate);
    if (!s.proxy_username.empty()) {
      SetString(kServerSettingsKeyPath, "Proxy Username" + n, s.proxy_username);
      SetString(kServerSettingsKeyPath, "Proxy Password" + n, s.proxy_password);
    }
  }
}

void SearchTest::ReplaceServers(const std::vector<ServerConfig>& servers) {
  DeleteTree(kServersKeyPath);
  SetServers(servers);
}

ServerConfig SearchTest::At(const std::string& host, int port, const std::string& certificate) {
  ServerConfig config;
  config.host = host;
  config.port = port;
  config.use_ssl = !certificate.empty();
  config.certificate = certificate;
  return config;
}

ServerConfig SearchTest::SilentTls(int connection_timeout) const {
  ServerConfig config = At(dir_.silent_host(), dir_.silent_port(), dir_.CaCertPath());
  config.connection_timeout = connection_timeout;
  return config;
}

void SearchTest::SetTrees(const std::vector<std::string>& trees) {
  CreateKey(kTreesKeyPath);
  for (size_t i = 0; i < trees.size(); ++i) SetString(kTreesKeyPath, std::to_string(i), trees[i]);
}

void SearchTest::SetContexts(int tree_index, const std::vector<std::string>& contexts,
                             bool subtree) {
  CreateKey(kContextsKeyPath);
  SetDword(kContextsKeyPath, "Search Context And Subtree " + std::to_string(tree_index),
           subtree ? 1 : 0);
  const std::string key = std::string(kContextsKeyPath) + "\\" + std::to_string(tree_index);
  CreateKey(key);
  for (size_t i = 0; i < contexts.size(); ++i) SetString(key, std::to_string(i), contexts[i]);
}

std::string SearchTest::WriteLdif(const std::string& name, const std::string& text) {
  // A Unix path, since the fixture script reads it as a Unix program.
  std::random_device random;
  const std::string path =
      "/tmp/wendrel-search-" + std::to_string(random()) + "-" + name + ".ldif";
  std::ofstream out(HostPath(path), std::ios::binary);
  out << text;
  files_.push_back(path);
  return path;
}

std::string Composed(const std::string& message) { return "LDAP Contextless Login: " + message; }

std::string NotFound(const std::vector<std::string>& servers) {
  std::string text =
      Composed("User not found after searching the trees on the following LDAP server(s):");
  for (const std::string& server : servers) text += "\n" + server;
  return text;
}

}  // namespace testing
}  // namespace wendrel
