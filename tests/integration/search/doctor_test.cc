// wendrel-doctor resolve and servers against a test directory, natively and
// under Wine: the users found, the servers passed over and why, each
// server's steps, and the verdict on each TLS chain (under Wine, whose
// wldap32 refuses the certificate check, "unavailable" for every one).

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/integration/search/search_fixture.h"

namespace wendrel {
namespace testing {
namespace {

// The built doctor's standard output for `args`, CR LF read as LF (the
// Windows doctor writes in text mode); its exit status in *status.
std::string RunDoctor(const std::string& args, int* status = nullptr) {
  const std::string out = HostPath("/tmp/wendrel-doctor-" +
                                   std::to_string(std::random_device()()) + ".out");
  std::string command =
      "\"" + HostPath(WENDREL_DOCTOR_PATH) + "\" " + args + " > \"" + out + "\"";
#ifdef _WIN32
  // cmd.exe drops the first and the last quote of a line that holds more
  // than two: one more pair keeps the ones that matter.
  command = "\"" + command + "\"";
#endif
  const int result = std::system(command.c_str());
  if (status != nullptr) *status = result;
  std::stringstream text;
  text << std::ifstream(out, std::ios::binary).rdbuf();
  std::remove(out.c_str());
  std::string report = text.str();
  report.erase(std::remove(report.begin(), report.end(), '\r'), report.end());
  return report;
}

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

// Entry `index` of a servers report without its "milliseconds", which vary.
std::string ReportedEntry(const std::string& report, size_t index) {
  const size_t start = report.find("{\"index\": " + std::to_string(index) + ",");
  if (start == std::string::npos) return "missing";
  std::string e = report.substr(start, report.find('}', start) + 1 - start);
  const size_t at = e.find("\"milliseconds\": ");
  return at == std::string::npos ? e : e.erase(at, e.find(',', at) + 2 - at);
}

// The entry expected for `server` at `index`: `rest` follows "reachable".
std::string ServerEntry(const ServerConfig& server, size_t index, const std::string& rest) {
  return "{\"index\": " + std::to_string(index) + ", \"name\": \"" + server.host +
         "\", \"port\": " + std::to_string(server.port) + ", \"tls\": " +
         (server.use_ssl ? "true" : "false") + ", \"reachable\": " + rest + "}";
}

// What follows "reachable" in an entry; "null" stands for JSON's null.
std::string Rest(bool reachable, const std::string& tree, const std::string& bind,
                 const std::string& certificate, const std::string& whole, bool usable) {
  auto text = [](const std::string& v) { return v == "null" ? v : "\"" + v + "\""; };
  return std::string(reachable ? "true" : "false") + ", \"tree\": " + text(tree) +
         ", \"bind\": " + text(bind) + ", \"certificate\": " + text(certificate) +
         ", \"wholeDirectorySearch\": " + text(whole) + ", \"usable\": " +
         (usable ? "true" : "false");
}
std::string Refused(const std::string& verdict) {
  return Rest(true, "null", "no TLS connection: certificate " + verdict, verdict, "null", false);
}
std::string Trusted(const std::string& tree) {
  return Rest(true, tree, "ok", "trusted", "ok", true);
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

  const std::vector<ServerConfig> servers = {Plain(0), Closed(), Silent(), Tls(1),
                                             Plain(2), Tls(3),   SilentTls()};
  SetServers(servers);
  std::string report = RunDoctor("servers --json", &status);
  EXPECT_NE(0, status);  // not every server is usable
  // Refusing the whole-directory search does not make a server unusable:
  // its contexts are to be configured. A TLS peer that never answers: no
  // handshake, so no verdict, and each step given up within the time-out.
  const std::string rest[] = {
      Rest(true, "A", "ok", "null", "ok", true),
      Rest(false, "null", "not attempted: connection refused", "null", "null", false),
      Rest(true, "null", "no answer within 1 s", "null", "null", false),
#ifdef _WIN32
      Refused(kTlsVerdict),
      Rest(true, "B", "ok", "null", "no such object", true),
      Refused(kTlsVerdict),
#else
      Refused("untrusted"),
      Rest(true, "B", "ok", "null", "no such object", true),
      Trusted("A"),
#endif
      Refused("unavailable"),
  };
  for (size_t i = 0; i < servers.size(); ++i) {
    EXPECT_EQ(ServerEntry(servers[i], i, rest[i]), ReportedEntry(report, i));
  }

  // The human report says the same, with the hint for the refused search.
  std::string text = RunDoctor("servers", &status);
  EXPECT_NE(0, status);
  EXPECT_NE(std::string::npos, text.find("configure search contexts for tree B")) << text;
}

// Passed over for "no tree name", not "other tree" nor "bind refused".
TEST_F(DoctorResolveTest, ServerThatBindsButNamesNoTreeIsReportedSo) {
  // The proxy answers the first search on a connection, the search's read of
  // the root entry, with "other" (80): the bind went through, the tree name
  // could not be read. Only once: a second look at the server finds its
  // tree, as a server that has just come up would show it.
  ASSERT_TRUE(dir_.Start({"A:fault=other@search", "A"})) << dir_.error();
  SetOptions({});
  ServerConfig treeless = Plain(0);
  treeless.port = dir_.server(0).proxy_port;
  SetServers({treeless, Plain(1)});

  const std::string report = RunDoctor("resolve jdoe A --json");
  EXPECT_NE(std::string::npos, report.find("\"found\": true")) << report;
  EXPECT_NE(std::string::npos,
            report.find("\"skipped\": [{\"name\": \"" + treeless.host +
                        "\", \"reason\": \"no tree name\"}]}"))
      << report;
}

// The verdict on each chain: forgeries of the trusted CA and honest chains
// through an intermediate CA.
TEST_F(DoctorResolveTest, ServersShowTheVerdictOnEachChain) {
  ASSERT_TRUE(dir_.Start({"Good:tls=good", "Forged:tls=forgedca", "Fake:tls=fakeca",
                          "Chain:tls=chain", "Leaf:tls=forgedleaf"}))
      << dir_.error();
  SetOptions({});
#ifdef _WIN32
  const std::string good = Refused(kTlsVerdict), chain = good, untrusted = good;
#else
  const std::string good = Trusted("Good"), chain = Trusted("Chain");
  const std::string untrusted = Refused("untrusted");
#endif
  const struct {
    size_t server;
    std::string trusted_file;
    std::string rest;
  } cases[] = {
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
  std::vector<std::string> expected, reported;
  for (const auto& c : cases) {
    servers.push_back(Tls(c.server));
    servers.back().certificate = c.trusted_file;
    const size_t index = expected.size();
    expected.push_back(c.trusted_file + ": " + ServerEntry(servers.back(), index, c.rest));
  }
  SetServers(servers);
  const std::string report = RunDoctor("servers --json");
  for (size_t i = 0; i < servers.size(); ++i) {
    reported.push_back(servers[i].certificate + ": " + ReportedEntry(report, i));
  }
  EXPECT_EQ(expected, reported) << report;
}

}  // namespace
}  // namespace testing
}  // namespace wendrel
