// wendrel-doctor resolve and servers against a test directory: the same
// users, in the same report, from the native doctor and from the Windows one
// under Wine; the servers a search passed over with their reasons; and what
// each configured server offers, step by step.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "gtest/gtest.h"
#include "tests/integration/search/search_fixture.h"

namespace wendrel {
namespace testing {
namespace {

using DoctorResolveTest = SearchTest;

// Runs the doctor with `args`; its standard output, or "" when it failed.
std::string RunDoctor(const std::string& args, int* status) {
  std::random_device random;
  const std::string out = HostPath("/tmp/wendrel-doctor-" + std::to_string(random()) + ".out");
  std::string command =
      "\"" + HostPath(WENDREL_DOCTOR_PATH) + "\" " + args + " > \"" + out + "\"";
#ifdef _WIN32
  // cmd.exe drops the first and the last quote of a line that holds more
  // than two: one more pair keeps the ones that matter.
  command = "\"" + command + "\"";
#endif
  *status = std::system(command.c_str());
  std::ifstream in(out, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  in.close();
  std::remove(out.c_str());
  // The Windows doctor's standard output is in text mode: the same report
  // with CR LF line ends.
  std::string report;
  for (char c : text.str()) {
    if (c != '\r') report += c;
  }
  return report;
}

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

TEST_F(DoctorResolveTest, SkippedServersWithTheirReasons) {
  ASSERT_TRUE(dir_.Start({"A", "B", "A:tls=otherca", "A:tls=expired", "A:tls=wronghost"}))
      << dir_.error();
  SetOptions({});
  const ServerConfig closed = Closed();
  SetServers({closed, Plain(1), Tls(2), Tls(3), Tls(4), Plain(0)});

  int status = -1;
  std::string report = RunDoctor("resolve jdoe A --json", &status);
  EXPECT_EQ(0, status);
  EXPECT_NE(std::string::npos, report.find("\"found\": true")) << report;
#ifdef _WIN32
  const std::string untrusted = kTlsVerdict, expired = kTlsVerdict, mismatch = kTlsVerdict;
#else
  const std::string untrusted = "untrusted", expired = "expired", mismatch = "name mismatch";
#endif
  EXPECT_NE(std::string::npos,
            report.find("\"skipped\": [{\"name\": \"" + closed.host +
                        "\", \"reason\": \"unreachable\"}, {\"name\": \"" + dir_.server(1).host +
                        "\", \"reason\": \"other tree\"}, {\"name\": \"" + dir_.server(2).host +
                        "\", \"reason\": \"" + untrusted + "\"}, {\"name\": \"" +
                        dir_.server(3).host + "\", \"reason\": \"" + expired +
                        "\"}, {\"name\": \"" + dir_.server(4).host + "\", \"reason\": \"" +
                        mismatch + "\"}]}"))
      << report;

  // A server that takes the connection and never answers: the bind is not
  // answered.
  const ServerConfig silent = Silent();
  SetServers({silent, Plain(0)});
  report = RunDoctor("resolve jdoe A --json", &status);
  EXPECT_NE(std::string::npos,
            report.find("\"skipped\": [{\"name\": \"" + silent.host +
                        "\", \"reason\": \"bind refused\"}]}"))
      << report;
}

TEST_F(DoctorResolveTest, ServersReportEachStep) {
  ASSERT_TRUE(dir_.Start({"A", "A:tls=otherca", "B:wholesearch=refuse", "A:tls=good"}))
      << dir_.error();
  SetOptions({});
  const ServerConfig closed = Closed();
  const ServerConfig silent = Silent();
  // Only usable servers: exit status 0.
  SetServers({Plain(0), Plain(2)});
  int status = -1;
  RunDoctor("servers --json", &status);
  EXPECT_EQ(0, status);

  ServerConfig silent_tls = Silent();
  silent_tls.use_ssl = true;
  silent_tls.certificate = dir_.CaCertPath();
  SetServers({Plain(0), closed, silent, Tls(1), Plain(2), Tls(3), silent_tls});
  std::string report = RunDoctor("servers --json", &status);
  EXPECT_NE(0, status);  // not every server is usable
  auto entry = [&](int index) {
    const std::string key = "{\"index\": " + std::to_string(index) + ",";
    size_t start = report.find(key);
    if (start == std::string::npos) return std::string("missing");
    size_t end = report.find('}', start);
    return report.substr(start, end + 1 - start);
  };
  auto port = [](int p) { return std::to_string(p); };
  // "milliseconds" varies; everything else is fixed.
  auto without_time = [](std::string e) {
    size_t at = e.find("\"milliseconds\": ");
    if (at == std::string::npos) return e;
    size_t end = e.find(',', at);
    return e.erase(at, end + 2 - at);
  };
  EXPECT_EQ("{\"index\": 0, \"name\": \"" + dir_.server(0).host + "\", \"port\": " +
                port(dir_.server(0).port) +
                ", \"tls\": false, \"reachable\": true, \"tree\": \"A\", \"bind\": \"ok\", "
                "\"certificate\": null, \"wholeDirectorySearch\": \"ok\", \"usable\": true}",
            without_time(entry(0)));
  EXPECT_EQ("{\"index\": 1, \"name\": \"" + closed.host + "\", \"port\": " + port(closed.port) +
                ", \"tls\": false, \"reachable\": false, \"tree\": null, \"bind\": \"not "
                "attempted: connection refused\", \"certificate\": null, "
                "\"wholeDirectorySearch\": null, \"usable\": false}",
            without_time(entry(1)));
  EXPECT_EQ("{\"index\": 2, \"name\": \"" + silent.host + "\", \"port\": " + port(silent.port) +
                ", \"tls\": false, \"reachable\": true, \"tree\": null, \"bind\": \"no answer "
                "within 1 s\", \"certificate\": null, \"wholeDirectorySearch\": null, "
                "\"usable\": false}",
            without_time(entry(2)));
#ifdef _WIN32
  const std::string untrusted = kTlsVerdict;
#else
  const std::string untrusted = "untrusted";
#endif
  EXPECT_EQ("{\"index\": 3, \"name\": \"" + dir_.server(1).host + "\", \"port\": " +
                port(dir_.server(1).tls_port) +
                ", \"tls\": true, \"reachable\": true, \"tree\": null, \"bind\": \"no TLS "
                "connection: certificate " + untrusted + "\", \"certificate\": \"" + untrusted +
                "\", \"wholeDirectorySearch\": null, \"usable\": false}",
            without_time(entry(3)));
  // Refusing the whole-directory search does not make a server unusable:
  // its contexts are to be configured.
  EXPECT_EQ("{\"index\": 4, \"name\": \"" + dir_.server(2).host + "\", \"port\": " +
                port(dir_.server(2).port) +
                ", \"tls\": false, \"reachable\": true, \"tree\": \"B\", \"bind\": \"ok\", "
                "\"certificate\": null, \"wholeDirectorySearch\": \"no such object\", "
                "\"usable\": true}",
            without_time(entry(4)));
#ifdef _WIN32
  EXPECT_NE(std::string::npos, entry(5).find("\"certificate\": \"unavailable\"")) << entry(5);
  EXPECT_NE(std::string::npos, entry(5).find("\"usable\": false")) << entry(5);
#else
  EXPECT_NE(std::string::npos, entry(5).find("\"tree\": \"A\", \"bind\": \"ok\", "
                                             "\"certificate\": \"trusted\", "
                                             "\"wholeDirectorySearch\": \"ok\", \"usable\": true"))
      << entry(5);
#endif

  // A TLS peer that never answers: no handshake, so no verdict, and each
  // step given up within the time-out.
  EXPECT_EQ("{\"index\": 6, \"name\": \"" + silent.host + "\", \"port\": " + port(silent.port) +
                ", \"tls\": true, \"reachable\": true, \"tree\": null, \"bind\": \"no TLS "
                "connection: certificate unavailable\", \"certificate\": \"unavailable\", "
                "\"wholeDirectorySearch\": null, \"usable\": false}",
            without_time(entry(6)));

  // The human report says the same, with the hint for the refused search.
  std::string text = RunDoctor("servers", &status);
  EXPECT_NE(0, status);
  EXPECT_NE(std::string::npos, text.find("configure search contexts for tree B")) << text;
}

}  // namespace
}  // namespace testing
}  // namespace wendrel
