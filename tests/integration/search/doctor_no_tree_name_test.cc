// wendrel-doctor resolve on a server that answers the bind but gives no tree
// name: the reason it shows for passing the server over is "no tree name",
// not "other tree" nor "bind refused", on both builds.

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

using DoctorNoTreeNameTest = SearchTest;

// The doctor's standard output for `args` (CR LF read as LF).
std::string DoctorReport(const std::string& args) {
  std::random_device random;
  const std::string out = HostPath("/tmp/wendrel-doctor-" + std::to_string(random()) + ".out");
  std::string command =
      "\"" + HostPath(WENDREL_DOCTOR_PATH) + "\" " + args + " > \"" + out + "\"";
#ifdef _WIN32
  // cmd.exe drops the first and the last quote of a line that holds more
  // than two: one more pair keeps the ones that matter.
  command = "\"" + command + "\"";
#endif
  std::system(command.c_str());
  std::ifstream in(out, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  in.close();
  std::remove(out.c_str());
  std::string report;
  for (char c : text.str()) {
    if (c != '\r') report += c;
  }
  return report;
}

TEST_F(DoctorNoTreeNameTest, ServerThatBindsButNamesNoTreeIsReportedSo) {
  // The proxy answers the first search on a connection, the search's read of
  // the root entry, with "other" (80): the bind went through, the tree name
  // could not be read. Only once: a second look at the server finds its
  // tree, as a server that has just come up would show it.
  ASSERT_TRUE(dir_.Start({"A:fault=other@search", "A"})) << dir_.error();
  SetOptions({});
  ServerConfig treeless = Plain(0);
  treeless.port = dir_.server(0).proxy_port;
  SetServers({treeless, Plain(1)});

  const std::string report = DoctorReport("resolve jdoe A --json");
  EXPECT_NE(std::string::npos, report.find("\"found\": true")) << report;
  EXPECT_NE(std::string::npos,
            report.find("\"skipped\": [{\"name\": \"" + treeless.host +
                        "\", \"reason\": \"no tree name\"}]}"))
      << report;
}

}  // namespace
}  // namespace testing
}  // namespace wendrel
