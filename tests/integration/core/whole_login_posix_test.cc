// The whole login as the login host runs it: qzlogin loads the host module
// and then the extension library, which performs its handshake while it is
// loaded, starts its worker, resolves the typed name at the tab-data event,
// and stops everything at QZLG_TERMINATE before it is unloaded. The report
// qzlogin prints is what the host received.

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "gtest/gtest.h"
#include "platform/environment.h"
#include "tests/integration/search/search_fixture.h"

namespace wendrel {
namespace testing {
namespace {

class WholeLoginTest : public SearchTest {
 protected:
  void TearDown() override {
    platform::RemoveFile(report_path_);
    SearchTest::TearDown();
  }

  // qzlogin's JSON report for these arguments (its exit status in *status).
  std::string Login(const std::string& arguments, int* status) {
    report_path_ = platform::TemporaryDirectory() + "/wendrel-whole-login-" +
                   std::to_string(platform::CurrentProcessId()) + ".json";
    std::string command = std::string("'") + WENDREL_QZLOGIN_PATH + "' --extension '" +
                          WENDREL_EXTENSION_PATH + "' --json " + arguments + " > '" +
                          report_path_ + "' < /dev/null";
    *status = std::system(command.c_str());
    std::ifstream in(report_path_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::string report_path_;
};

TEST_F(WholeLoginTest, TheExtensionResolvesTheTypedNameForTheHost) {
  ASSERT_TRUE(dir_.Start({"A"})) << dir_.error();
  SetServers({Plain(0)});
  SetTrees({"A"});
  SetOptions({{"Contextless Login Enabled", 1}});

  int status = -1;
  std::string report = Login("--user asmith --tree A", &status);
  EXPECT_EQ(status, 0) << report;
  EXPECT_NE(report.find("\"handshake\": {\"called\": true, \"result\": 0}"), std::string::npos)
      << report;
  EXPECT_NE(report.find("\"user\": \"asmith\", \"context\": \"eng.A\""), std::string::npos)
      << report;
  EXPECT_NE(report.find("\"callingModule\": 577775"), std::string::npos) << report;
  EXPECT_NE(report.find("\"notifications\": [100]"), std::string::npos) << report;

  // Several matches: the host's dialog picks the second row.
  report = Login("--user jdoe --tree A --select 1", &status);
  EXPECT_EQ(status, 0) << report;
  EXPECT_NE(report.find("\"context\": \"sales.A\""), std::string::npos) << report;
  EXPECT_NE(report.find("\"rows\": [[\"jdoe\", \"eng.A\"], [\"jdoe\", \"sales.A\"]]"),
            std::string::npos)
      << report;
}

TEST_F(WholeLoginTest, WithoutOptionsTheExtensionStaysPassive) {
  int status = -1;
  std::string report = Login("--user asmith --tree A", &status);
  EXPECT_EQ(status, 0) << report;
  EXPECT_NE(report.find("\"handshake\": {\"called\": false"), std::string::npos) << report;
  EXPECT_NE(report.find("\"context\": \"\""), std::string::npos) << report;
  EXPECT_NE(report.find("\"notifications\": []"), std::string::npos) << report;
}

}  // namespace
}  // namespace testing
}  // namespace wendrel
