// What the user-search tests share: the unit tests' registry fixture, slapd
// servers, and a presenter that records every box and answers as told.

#ifndef WENDREL_TESTS_INTEGRATION_SEARCH_SEARCH_FIXTURE_H_
#define WENDREL_TESTS_INTEGRATION_SEARCH_SEARCH_FIXTURE_H_

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui.h"
#include "tests/integration/support/directory_fixture.h"
#include "tests/unit/support/registry_fixture.h"

namespace wendrel {
class UserData;
namespace testing {

struct ShownBox {
  std::string caption;
  std::string text;
  uint32_t style;
};
bool operator==(const ShownBox& a, const ShownBox& b);
std::ostream& operator<<(std::ostream& out, const ShownBox& box);

// What one user search came to: the thrown text ("" when it returned,
// "<cancelled>" when the user stopped it), the request's server and tree
// afterwards, its users as name@context and the boxes shown meanwhile.
// Compared without the time it took.
struct SearchOutcome {
  SearchOutcome() = default;
  SearchOutcome(std::string error, std::string server = "", std::string tree = "",
                std::vector<std::string> users = {}, std::vector<ShownBox> boxes = {})
      : error(std::move(error)), server(std::move(server)), tree(std::move(tree)),
        users(std::move(users)), boxes(std::move(boxes)) {}
  std::string error;
  std::string server;
  std::string tree;
  std::vector<std::string> users;
  std::vector<ShownBox> boxes;
  double seconds = 0;
};
bool operator==(const SearchOutcome& a, const SearchOutcome& b);
std::ostream& operator<<(std::ostream& out, const SearchOutcome& outcome);

class RecordingPresenter : public platform::MessageBoxPresenter {
 public:
  int Show(const std::string& caption, const std::string& text, uint32_t style) override;

  std::vector<ShownBox> boxes;
  int question_answer = platform::kIdNo;
  // Runs while a box is up, before it is answered.
  std::function<void(const ShownBox&)> on_show;
};

// One configured server, as the server list and its settings hold it.
struct ServerConfig {
  std::string host;
  int port = 389;
  int connection_timeout = 1;
  int search_timeout = 20;
  bool use_ssl = false;
  std::string certificate;
  std::string proxy_username;
  std::string proxy_password;
};

// The retry memory of unreachable servers is empty before each test and
// after it, and every parallel probe has ended after it.
class SearchTest : public RegistryTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The options key with these DWORD values.
  void SetOptions(const std::vector<std::pair<std::string, uint32_t>>& options);
  // The server list in this order, with its settings; Replace first removes
  // what an earlier list left behind.
  void SetServers(const std::vector<ServerConfig>& servers);
  void ReplaceServers(const std::vector<ServerConfig>& servers);
  // Server i of the fixture, plain LDAP; over TLS with the fixture CA as
  // its certificate file; the closed port; the listener that never answers,
  // plain and over TLS. At is over TLS when given a certificate file.
  ServerConfig Plain(size_t i) const { return At(dir_.server(i).host, dir_.server(i).port); }
  ServerConfig Tls(size_t i) const {
    return At(dir_.server(i).host, dir_.server(i).tls_port, dir_.CaCertPath());
  }
  ServerConfig Closed() const { return At(dir_.closed_host(), dir_.closed_port()); }
  ServerConfig Silent() const { return At(dir_.silent_host(), dir_.silent_port()); }
  ServerConfig SilentTls(int connection_timeout = 1) const;
  static ServerConfig At(const std::string& host, int port, const std::string& certificate = "");
  // Tree list "0", "1", ... and the contexts of tree `index`.
  void SetTrees(const std::vector<std::string>& trees);
  void SetContexts(int tree_index, const std::vector<std::string>& contexts, bool subtree);

  // Writes an LDIF file for the ldif= key of a server description and returns its Unix
  // path; removed in TearDown.
  std::string WriteLdif(const std::string& name, const std::string& text);

  // Runs the user search for the request, as the login does.
  SearchOutcome RunUserSearch(UserData& request);
  SearchOutcome RunUserSearch(const std::string& name, const std::string& tree);

  DirectoryFixture dir_;
  RecordingPresenter presenter_;

 private:
  platform::MessageBoxPresenter* previous_ = nullptr;
  std::vector<std::string> files_;
};

// The composed texts the search throws.
std::string Composed(const std::string& message);
std::string NotFound(const std::vector<std::string>& servers);

}  // namespace testing
}  // namespace wendrel

#endif  // WENDREL_TESTS_INTEGRATION_SEARCH_SEARCH_FIXTURE_H_
