// A running set of test directory servers, for integration tests on both
// builds: real slapd processes started by tests/integration/fixture/
// slapd_fixture, plus a listener that accepts and never answers and a
// closed port. The tests of the Windows build run under Wine, which starts
// the same script as a Unix program.
//
//   DirectoryFixture dir;
//   ASSERT_TRUE(dir.Start({"A", "B:tls=good", "C"})) << dir.error();
//   dir.Freeze(1);
//   ... connect to dir.server(0).host, dir.server(0).port ...
//
// Each server spec is TREE[:key=value]..., with the keys the script's usage
// lists (tls, wholesearch, suffix, ldif as a Unix path, password, index,
// maxsize, lastbind, host, fault). Every server has the sample entries of the
// script unless ldif is given. For the tls= kinds an attacker or a larger PKI
// presents (forgedca, fakeca, forgedleaf, chain) the server's certificate
// file holds what the server sends, its own certificate first. Everything is
// removed by the destructor.

#ifndef WENDREL_TESTS_INTEGRATION_SUPPORT_DIRECTORY_FIXTURE_H_
#define WENDREL_TESTS_INTEGRATION_SUPPORT_DIRECTORY_FIXTURE_H_

#include <chrono>
#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace wendrel {
namespace testing {

// Seconds since `start`, for tests that bound how long a step takes.
inline double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct DirectoryServer {
  std::string tree;
  std::string host;      // its own loopback address
  int port = 0;          // plain LDAP
  int tls_port = 0;      // LDAP over TLS, 0 without TLS
  int proxy_port = 0;    // the fault proxy in front of port, 0 without fault=
  std::string tls;       // "", "good", "otherca", "expired" or "wronghost"
  std::string certificate;  // its TLS certificate (PEM), as this program opens it
  std::string suffix;
  std::string admin_dn;  // cn=admin,SUFFIX
  std::string password;
};

class DirectoryFixture {
 public:
  DirectoryFixture();
  ~DirectoryFixture();
  DirectoryFixture(const DirectoryFixture&) = delete;
  DirectoryFixture& operator=(const DirectoryFixture&) = delete;

  // Starts one server for each description ("A", "B:tls=good", ...). False
  // with error() on failure.
  bool Start(const std::vector<std::string>& specs);

  // For long-running users (benchmarks) and large directories: the instance
  // is removed by its watchdog after `lifetime` even if this process dies,
  // and loading may take up to `start` (never less than the usual 30 s).
  struct StartLimits {
    std::chrono::seconds lifetime{300};
    std::chrono::seconds start{30};
  };
  bool Start(const std::vector<std::string>& specs, const StartLimits& limits);

  size_t server_count() const { return servers_.size(); }
  const DirectoryServer& server(size_t i) const { return servers_.at(i); }

  // A listener that completes the TCP handshake and never says a word.
  const std::string& silent_host() const { return silent_host_; }
  int silent_port() const { return silent_port_; }
  // An address and port where nothing listens: connections are refused.
  const std::string& closed_host() const { return closed_host_; }
  int closed_port() const { return closed_port_; }

  // The CA that issued the "good" and "expired" server certificates, and
  // the one that issued "otherca"; paths as this program opens files (under
  // Wine a Z: path). Empty when no server uses TLS.
  std::string CaCertPath() const;
  std::string OtherCaCertPath() const;
  // The fixture CA as one DER certificate, and a PEM file holding the other
  // CA and then the fixture CA.
  std::string CaCertDerPath() const;
  std::string CaBundlePath() const;
  // A file of the instance that holds no certificate.
  std::string NonCertificatePath() const;
  // Made when a server uses forgedca, fakeca, forgedleaf or chain; empty
  // otherwise. The
  // intermediate CA of tls=chain alone; the fixture CA followed by the fake
  // CA of tls=fakeca (the same issuer and serial number); and a certificate
  // for localhost issued by the intermediate whose authority information
  // access sends a client for the missing issuer to the silent listener.
  std::string IntermediateCertPath() const;
  std::string CaWithForgeryPath() const;
  std::string AiaLeafCertPath() const;

  // Stop (SIGTERM), kill (SIGKILL), freeze (SIGSTOP), thaw (SIGCONT) or
  // restart (after stop or kill, same address and ports) server i.
  bool Stop(size_t i) { return Control("stop", i); }
  bool Kill(size_t i) { return Control("kill", i); }
  bool Freeze(size_t i) { return Control("freeze", i); }
  bool Thaw(size_t i) { return Control("thaw", i); }
  bool Restart(size_t i) { return Control("restart", i); }

  const std::string& error() const { return error_; }

 private:
  bool Run(const std::string& args, std::chrono::seconds timeout);
  bool Control(const char* action, size_t i);
  bool Load();
  std::string Value(const std::map<std::string, std::string>& kv, const std::string& key) const;

  std::string dir_;  // Unix path of the instance
  bool started_ = false;
  std::vector<DirectoryServer> servers_;
  std::string silent_host_;
  int silent_port_ = 0;
  std::string closed_host_;
  int closed_port_ = 0;
  std::string ca_cert_;
  std::string other_ca_cert_;
  std::string ca_cert_der_;
  std::string ca_bundle_;
  std::string intermediate_cert_;
  std::string ca_with_forgery_;
  std::string aia_leaf_cert_;
  std::string error_;
};

// Servers for tests that leave them as they found them, started once per
// program for the same specs, by the first test that asks (under ctest each
// test is a program of its own and starts only what it uses); null, with
// *error, when they could not be started. StopSharedDirectories (from a
// suite's TearDownTestSuite) removes them all.
DirectoryFixture* SharedDirectory(const std::vector<std::string>& specs, std::string* error);
void StopSharedDirectories();

// A Unix path as this program opens it: unchanged natively, the Z: drive
// path under Wine.
std::string HostPath(const std::string& unix_path);

}  // namespace testing
}  // namespace wendrel

#endif  // WENDREL_TESTS_INTEGRATION_SUPPORT_DIRECTORY_FIXTURE_H_
