// wendrel-doctor resolve against a test directory: the same users, in the
// same report, from the native doctor and from the Windows one under Wine.

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
                "\"cancelled\": false, \"messageBoxes\": []}\n",
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

}  // namespace
}  // namespace testing
}  // namespace wendrel
