// Real slapd servers for the integration tests of both builds, started by
// tests/integration/fixture/slapd_fixture (its usage lists the keys of a
// server description; under Wine it runs as a Unix program), plus a listener
// that accepts and never answers and a closed port; removed by the destructor.

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
  std::string host;         // its own loopback address
  int port = 0;             // plain LDAP
  int tls_port = 0;         // LDAP over TLS, 0 without TLS
  int proxy_port = 0;       // the fault proxy in front of port, 0 without fault=
  std::string certificate;  // what the server sends (PEM, its own first), as opened here
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

  // For long-running users (benchmarks) and large directories: the instance
  // is removed by its watchdog after `lifetime` even if this process dies,
  // and loading may take up to `start` (never less than the usual 30 s).
  struct StartLimits {
    std::chrono::seconds lifetime{300};
    std::chrono::seconds start{30};
  };
  // One server for each description ("A", "B:tls=good", ...). False with error().
  bool Start(const std::vector<std::string>& specs, const StartLimits& limits);
  bool Start(const std::vector<std::string>& specs) { return Start(specs, StartLimits()); }

  const DirectoryServer& server(size_t i) const { return servers_.at(i); }

  // A listener that completes the TCP handshake and never says a word, and
  // an address and port where connections are refused.
  const std::string& silent_host() const { return silent_host_; }
  int silent_port() const { return silent_port_; }
  const std::string& closed_host() const { return closed_host_; }
  int closed_port() const { return closed_port_; }

  // The instance's files as this program opens them, "" when not made: the
  // fixture CA, the other CA, the first as DER, both CAs in one PEM file, a
  // file of no certificate; with the attack kinds of tls= (the fixture's
  // usage) also the intermediate CA, the CA then the fake CA, the AIA leaf.
  std::string CaCertPath() const { return File("ca_cert"); }
  std::string OtherCaCertPath() const { return File("other_ca_cert"); }
  std::string CaCertDerPath() const { return File("ca_cert_der"); }
  std::string CaBundlePath() const { return File("ca_bundle"); }
  std::string NonCertificatePath() const;
  std::string IntermediateCertPath() const { return File("intermediate_cert"); }
  std::string CaWithForgeryPath() const { return File("ca_with_forgery"); }
  std::string AiaLeafCertPath() const { return File("aia_leaf_cert"); }

  // Stop (SIGTERM), freeze (SIGSTOP), thaw (SIGCONT) or restart (after a
  // stop, same address and ports) server i.
  bool Stop(size_t i) { return Control("stop", i); }
  bool Freeze(size_t i) { return Control("freeze", i); }
  bool Thaw(size_t i) { return Control("thaw", i); }
  bool Restart(size_t i) { return Control("restart", i); }

  const std::string& error() const { return error_; }

 private:
  bool Run(const std::string& args, std::chrono::seconds timeout);
  bool Control(const char* action, size_t i);
  bool Load();
  std::string File(const std::string& key) const;

  std::string dir_;  // Unix path of the instance
  bool started_ = false;
  std::map<std::string, std::string> values_;  // of fixture.txt
  std::vector<DirectoryServer> servers_;
  std::string silent_host_, closed_host_;
  int silent_port_ = 0, closed_port_ = 0;
  std::string error_;
};

// Servers for tests that leave them as they found them, started once per
// program for the same specs by the first test that asks; null, with
// *error, when they could not be started. StopSharedDirectories (from a
// suite's TearDownTestSuite) removes them all.
DirectoryFixture* SharedDirectory(const std::vector<std::string>& specs, std::string* error);
void StopSharedDirectories();

// A Unix path as this program opens it: the Z: drive path under Wine.
std::string HostPath(const std::string& unix_path);

}  // namespace testing
}  // namespace wendrel

#endif  // WENDREL_TESTS_INTEGRATION_SUPPORT_DIRECTORY_FIXTURE_H_
