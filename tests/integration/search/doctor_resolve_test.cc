// wendrel-doctor resolve and servers against a test directory: the same
// users, in the same report, from the native doctor and from the Windows one
// under Wine; the servers a search passed over with their reasons; and what
// each configured server offers, step by step.

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/integration/search/doctor_runner.h"
#include "tests/integration/search/search_fixture.h"

namespace wendrel {
namespace testing {
namespace {

using DoctorResolveTest = SearchTest;

TEST_F(DoctorResolveTest, JsonReportOfTheFoundUsers) {
  ASSERT_TRUE(dir_.Start({"A"})) << dir_.error();
  SetOptions({{"Search Unique ID", 1}});
  SetServers({Plain(0)});
  const std::string host = dir_.server(0).host;

  int status = -1;
  std::string report = RunDoctor("resolve jadoe A --json", &status);
  EXPECT_EQ(0, status);
  EXPECT_EQ("{\"name\": \"jadoe\", \"tree\": \"A\", \"server\": \"" + host +
                "\", \"found\": true, \"users\": [{\"user\": \"jdoe\", \"context\": \"eng.A\", "
                "\"userFDN\": \"cn=jdoe\", \"contextFDN\": \"ou=eng.o=A\", \"attributes\": "
                "{\"fullName\": \"Jane Doe\", \"givenName\": \"Jane\", \"mail\": "
                "\"jane.doe@a.example\", \"sn\": \"Doe\", \"uid\": \"jadoe\"}}], \"error\": null, "
                "\"cancelled\": false, \"messageBoxes\": [], \"skipped\": []}\n",
            report);

  report = RunDoctor("resolve nobody A --json", &status);
  EXPECT_EQ(0, status);
  EXPECT_NE(std::string::npos,
            report.find("\"found\": false, \"users\": [], \"error\": \"LDAP Contextless Login: "
                        "User not found after searching the trees on the following LDAP "
                        "server(s):\\n" + host + "\""))
      << report;

  RunDoctor("resolve --answer perhaps", &status);
  EXPECT_NE(0, status);
}

#ifdef _WIN32
// Wine's wldap32 refuses the certificate check, so every TLS server with a
// trusted file is passed over, and no verdict can be reached.
constexpr char kTlsVerdict[] = "unavailable";
#endif

// The skipped list of a resolve report: {"name": host, "reason": why}, ...
std::string Skipped(const std::vector<std::pair<std::string, std::string>>& servers) {
  std::string out;
  for (const auto& s : servers) {
    out += (out.empty() ? "" : ", ") + ("{\"name\": \"" + s.first) + "\", \"reason\": \"" +
           s.second + "\"}";
  }
  return "\"skipped\": [" + out + "]}";
}

TEST_F(DoctorResolveTest, SkippedServersWithTheirReasons) {
  ASSERT_TRUE(dir_.Start({"A", "B", "A:tls=otherca", "A:tls=expired", "A:tls=wronghost"}))
      << dir_.error();
  SetOptions({});
  SetServers({Closed(), Plain(1), Tls(2), Tls(3), Tls(4), Plain(0)});
  int status = -1;
  std::string report = RunDoctor("resolve jdoe A --json", &status);
  EXPECT_EQ(0, status);
  EXPECT_NE(std::string::npos, report.find("\"found\": true")) << report;
#ifdef _WIN32
  const std::string untrusted = kTlsVerdict, expired = kTlsVerdict, mismatch = kTlsVerdict;
#else
  const std::string untrusted = "untrusted", expired = "expired", mismatch = "name mismatch";
#endif
  EXPECT_NE(std::string::npos, report.find(Skipped({{Closed().host, "unreachable"},
                                                    {dir_.server(1).host, "other tree"},
                                                    {dir_.server(2).host, untrusted},
                                                    {dir_.server(3).host, expired},
                                                    {dir_.server(4).host, mismatch}})))
      << report;

  // A server that takes the connection and never answers: the bind is not
  // answered.
  SetServers({Silent(), Plain(0)});
  report = RunDoctor("resolve jdoe A --json", &status);
  EXPECT_NE(std::string::npos, report.find(Skipped({{Silent().host, "bind refused"}}))) << report;
}

TEST_F(DoctorResolveTest, ServersReportEachStep) {
  ASSERT_TRUE(dir_.Start({"A", "A:tls=otherca", "B:wholesearch=refuse", "A:tls=good"}))
      << dir_.error();
  SetOptions({});
  // Only usable servers: exit status 0.
  SetServers({Plain(0), Plain(2)});
  int status = -1;
  RunDoctor("servers --json", &status);
  EXPECT_EQ(0, status);

  ServerConfig silent_tls = Silent();
  silent_tls.use_ssl = true;
  silent_tls.certificate = dir_.CaCertPath();
  const std::vector<ServerConfig> servers = {Plain(0), Closed(), Silent(), Tls(1),
                                             Plain(2), Tls(3),   silent_tls};
  SetServers(servers);
  std::string report = RunDoctor("servers --json", &status);
  EXPECT_NE(0, status);  // not every server is usable
  // Entry i of the report without its "milliseconds", which vary.
  auto entry = [&](size_t index) {
    const std::string key = "{\"index\": " + std::to_string(index) + ",";
    size_t start = report.find(key);
    if (start == std::string::npos) return std::string("missing");
    std::string e = report.substr(start, report.find('}', start) + 1 - start);
    size_t at = e.find("\"milliseconds\": ");
    return at == std::string::npos ? e : e.erase(at, e.find(',', at) + 2 - at);
  };
#ifdef _WIN32
  const std::string untrusted = kTlsVerdict;
#else
  const std::string untrusted = "untrusted";
#endif
  // What follows the name, port and tls of each entry. Refusing the
  // whole-directory search does not make a server unusable: its contexts
  // are to be configured. A TLS peer that never answers: no handshake, so
  // no verdict, and each step given up within the time-out.
  const std::string no_tls = "\"bind\": \"no TLS connection: certificate ";
  const std::string rest[] = {
      "true, \"tree\": \"A\", \"bind\": \"ok\", \"certificate\": null, "
      "\"wholeDirectorySearch\": \"ok\", \"usable\": true",
      "false, \"tree\": null, \"bind\": \"not attempted: connection refused\", "
      "\"certificate\": null, \"wholeDirectorySearch\": null, \"usable\": false",
      "true, \"tree\": null, \"bind\": \"no answer within 1 s\", \"certificate\": null, "
      "\"wholeDirectorySearch\": null, \"usable\": false",
      "true, \"tree\": null, " + no_tls + untrusted + "\", \"certificate\": \"" + untrusted +
          "\", \"wholeDirectorySearch\": null, \"usable\": false",
      "true, \"tree\": \"B\", \"bind\": \"ok\", \"certificate\": null, "
      "\"wholeDirectorySearch\": \"no such object\", \"usable\": true",
#ifdef _WIN32
      "true, \"tree\": null, " + no_tls + "unavailable\", \"certificate\": \"unavailable\", "
          "\"wholeDirectorySearch\": null, \"usable\": false",
#else
      "true, \"tree\": \"A\", \"bind\": \"ok\", \"certificate\": \"trusted\", "
      "\"wholeDirectorySearch\": \"ok\", \"usable\": true",
#endif
      "true, \"tree\": null, " + no_tls + "unavailable\", \"certificate\": \"unavailable\", "
          "\"wholeDirectorySearch\": null, \"usable\": false",
  };
  for (size_t i = 0; i < servers.size(); ++i) {
    EXPECT_EQ("{\"index\": " + std::to_string(i) + ", \"name\": \"" + servers[i].host +
                  "\", \"port\": " + std::to_string(servers[i].port) + ", \"tls\": " +
                  (servers[i].use_ssl ? "true" : "false") + ", \"reachable\": " + rest[i] + "}",
              entry(i));
  }

  // The human report says the same, with the hint for the refused search.
  std::string text = RunDoctor("servers", &status);
  EXPECT_NE(0, status);
  EXPECT_NE(std::string::npos, text.find("configure search contexts for tree B")) << text;
}

}  // namespace
}  // namespace testing
}  // namespace wendrel
