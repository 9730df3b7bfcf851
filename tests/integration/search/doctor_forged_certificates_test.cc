// wendrel-doctor servers against what an attacker presents: the verdict on
// each TLS server, forgeries of the trusted CA and honest chains through an
// intermediate CA. Natively the doctor judges the chain of a handshake of its
// own; under Wine, whose wldap32 never calls the certificate check, it has
// no verdict to give.

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/integration/search/doctor_runner.h"
#include "tests/integration/search/search_fixture.h"

namespace wendrel {
namespace testing {
namespace {

// What the report says of server `index`, from its tree on.
std::string Outcome(const std::string& report, int index) {
  const size_t start = report.find("{\"index\": " + std::to_string(index) + ",");
  if (start == std::string::npos) return "missing";
  const size_t tree = report.find("\"tree\": ", start);
  const size_t end = report.find('}', start);
  if (tree == std::string::npos || end == std::string::npos || tree > end) return "malformed";
  return report.substr(tree, end + 1 - tree);
}

std::string Trusted(const std::string& tree) {
  return "\"tree\": \"" + tree +
         "\", \"bind\": \"ok\", \"certificate\": \"trusted\", \"wholeDirectorySearch\": "
         "\"ok\", \"usable\": true}";
}

std::string Refused(const std::string& verdict) {
  return "\"tree\": null, \"bind\": \"no TLS connection: certificate " + verdict +
         "\", \"certificate\": \"" + verdict + "\", \"wholeDirectorySearch\": null, "
         "\"usable\": false}";
}

using DoctorForgedCertificateTest = SearchTest;

TEST_F(DoctorForgedCertificateTest, ServersShowTheVerdictOnEachChain) {
  ASSERT_TRUE(dir_.Start({"Good:tls=good", "Forged:tls=forgedca", "Fake:tls=fakeca",
                          "Chain:tls=chain", "Leaf:tls=forgedleaf"}))
      << dir_.error();
  SetOptions({});
  struct Case {
    size_t server;
    std::string trusted_file;
    std::string outcome;
  };
#ifdef _WIN32
  const std::string unavailable = Refused("unavailable");
  const std::string good = unavailable, chain = unavailable, untrusted = unavailable;
#else
  const std::string good = Trusted("Good"), chain = Trusted("Chain"),
                    untrusted = Refused("untrusted");
#endif
  const std::vector<Case> cases = {
      {0, dir_.CaCertPath(), good},
      {1, dir_.CaCertPath(), untrusted},
      {2, dir_.CaCertPath(), untrusted},
      {4, dir_.CaCertPath(), untrusted},
      {3, dir_.CaCertPath(), chain},
      {3, dir_.IntermediateCertPath(), chain},
      {0, dir_.IntermediateCertPath(), untrusted},
      {0, dir_.CaWithForgeryPath(), good},
  };
  std::vector<ServerConfig> servers;
  std::vector<std::string> expected;
  for (const Case& c : cases) {
    ServerConfig config = Tls(c.server);
    config.certificate = c.trusted_file;
    servers.push_back(config);
    expected.push_back(dir_.server(c.server).tree + " against " + c.trusted_file + ": " +
                       c.outcome);
  }
  SetServers(servers);
  const std::string report = RunDoctor("servers --json");
  std::vector<std::string> reported;
  for (size_t i = 0; i < cases.size(); ++i) {
    reported.push_back(dir_.server(cases[i].server).tree + " against " +
                       cases[i].trusted_file + ": " + Outcome(report, static_cast<int>(i)));
  }
  EXPECT_EQ(expected, reported) << report;
}

}  // namespace
}  // namespace testing
}  // namespace wendrel
