// What every benchmark runs against: one generated directory in a real slapd
// (with the fixture's closed port and silent listener beside it), a registry
// store of its own configured for it, and the login host's side of the
// handshake so that LoginExtCallback can be driven in this process.

#ifndef WENDREL_BENCH_BENCH_ENVIRONMENT_H_
#define WENDREL_BENCH_BENCH_ENVIRONMENT_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/start_info.h"
#include "tests/integration/support/directory_fixture.h"

namespace wendrel {
namespace bench {

constexpr char kTree[] = "BENCH";
constexpr char kSuffix[] = "o=BENCH";

// Where a configured server points.
struct Endpoint {
  std::string host;
  int port = 0;
};

class Environment {
 public:
  // Generates `users` users (bench/generate_directory), loads them with
  // slapadd and starts the server; points $WENDREL_REGISTRY at a fresh store.
  // False with error() on failure.
  bool Start(int users);
  ~Environment();

  int users() const { return users_; }
  // The one user that a typed name of its own matches, and the prefix that
  // (with wildcards on) matches the large result.
  std::string SingleUser() const;
  std::string BulkPattern() const { return "bulk*"; }
  int BulkCount() const;

  Endpoint directory() const;
  Endpoint closed() const;
  Endpoint silent() const;
  std::string bind_dn() const;
  std::string password() const;
  const std::string& store_path() const { return store_path_; }
  const std::string& error() const { return error_; }

  // The user filter the extension builds for `name` with "Search Username"
  // alone on.
  static std::string FilterFor(const std::string& name);

  // Writes the whole configuration afresh: the servers in this order (the
  // directory's credentials for each), the tree, contextless login on and
  // the given switches. "ConnectionTimeout" is 1 second for every server.
  void Configure(const std::vector<Endpoint>& servers, bool use_cache, bool allow_wildcards);

 private:
  int users_ = 0;
  std::string work_dir_;
  std::string store_path_;
  std::string error_;
  testing::DirectoryFixture fixture_;
};

// The process-wide environment of this run (started by main).
Environment& TheEnvironment();

// The login host's side in this process: the handshake done (once per
// process), qzlogin's start-info record for one typed name, event 0 sent.
class InProcessHost {
 public:
  explicit InProcessHost(const std::string& user);
  // Sends 1296; true when the driver wrote a user back and notified.
  bool TabData();
  // The message box texts the driver showed since the last call.
  std::string TakeMessages();

 private:
  std::unique_ptr<qzlogin::StartInfo> start_info_;
};

}  // namespace bench
}  // namespace wendrel

#endif  // WENDREL_BENCH_BENCH_ENVIRONMENT_H_
