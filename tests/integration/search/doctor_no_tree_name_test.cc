// wendrel-doctor resolve on a server that answers the bind but gives no tree
// name: the reason it shows for passing the server over is "no tree name",
// not "other tree" nor "bind refused", on both builds.

#include <string>

#include "gtest/gtest.h"
#include "tests/integration/search/doctor_runner.h"
#include "tests/integration/search/search_fixture.h"

namespace wendrel {
namespace testing {
namespace {

using DoctorNoTreeNameTest = SearchTest;

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

  const std::string report = RunDoctor("resolve jdoe A --json");
  EXPECT_NE(std::string::npos, report.find("\"found\": true")) << report;
  EXPECT_NE(std::string::npos,
            report.find("\"skipped\": [{\"name\": \"" + treeless.host +
                        "\", \"reason\": \"no tree name\"}]}"))
      << report;
}

}  // namespace
}  // namespace testing
}  // namespace wendrel
