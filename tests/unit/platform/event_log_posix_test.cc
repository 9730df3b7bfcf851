// The event log natively: flood control (through the clock seam), the lines
// $WENDREL_EVENT_LOG receives, and the guide's table against the catalogue.

#include "platform/event_log.h"

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/environment.h"

namespace wendrel {
namespace platform {
namespace {

uint64_t g_now = 0;
uint64_t TestClock() { return g_now; }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class EventLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = TemporaryDirectory() + "/wendrel-events-" + std::to_string(CurrentProcessId());
    RemoveFile(path_);
    SetEnvironmentVariable("WENDREL_EVENT_LOG", path_);
    SetEventClockForTesting(&TestClock);
    ResetEventFloodControlForTesting();
    g_now = 1000;
  }
  void TearDown() override {
    SetEventClockForTesting(nullptr);
    ResetEventFloodControlForTesting();
    SetEnvironmentVariable("WENDREL_EVENT_LOG", "");
    RemoveFile(path_);
  }
  std::string path_;
};

TEST_F(EventLogTest, FloodControlWritesEachDistinctEventOncePerInterval) {
  for (int i = 0; i < 20; ++i) ReportEvent(EventId::kServerNoTreeName, {"a:389"});
  ReportEvent(EventId::kServerNoTreeName, {"b:389"});
  g_now += kEventRepeatSeconds - 1;
  ReportEvent(EventId::kServerNoTreeName, {"a:389"});  // still held back
  // What a refused certificate asks before it pays for its verdict.
  EXPECT_EQ(std::vector<bool>({true, false, false}),
            std::vector<bool>({EventWrittenRecently(EventId::kServerNoTreeName, "a:389"),
                               EventWrittenRecently(EventId::kServerNoTreeName, "c:389"),
                               EventWrittenRecently(EventId::kServerOtherTree, "a:389")}));
  g_now += 1;
  EXPECT_FALSE(EventWrittenRecently(EventId::kServerNoTreeName, "a:389"));
  ReportEvent(EventId::kServerNoTreeName, {"a:389"});
  // Hostile text: control characters, and a Windows-1252 character (UTF-8 in
  // the file).
  ReportEvent(EventId::kServerOtherTree, {"caf\xE9:389", "X\r\n1010 Error forged\t"});
  const std::string a = "1003 Warning The directory server a:389 was skipped: it accepted the "
                        "bind, but its tree name could not be read.\n";
  EXPECT_EQ(ReadFile(path_),
            a + "1003 Warning The directory server b:389 was skipped: it accepted the bind, "
                "but its tree name could not be read.\n" +
                a +
                "1004 Information The directory server caf\xC3\xA9:389 was not searched: it "
                "serves the tree X\\r\\n1010 Error forged?, not the tree the login asked for.\n");
}

TEST_F(EventLogTest, AtMost256EventsAreRememberedOldestForgottenFirst) {
  SetEnvironmentVariable("WENDREL_EVENT_LOG", "/dev/null");
  // Written from 256 down, so the oldest is not the first in the kept order.
  for (int i = 256; i >= 0; --i, ++g_now) {
    ReportEvent(EventId::kServerNoTreeName, {std::to_string(i)});
  }
  SetEnvironmentVariable("WENDREL_EVENT_LOG", path_);
  ReportEvent(EventId::kServerNoTreeName, {"255"});  // remembered: held back
  ReportEvent(EventId::kServerNoTreeName, {"256"});  // the oldest, forgotten
  EXPECT_EQ(ReadFile(path_), "1003 Warning The directory server 256 was skipped: it accepted "
                             "the bind, but its tree name could not be read.\n");
}

// The guide lists every event as "| id | level | text | ..." with the text as
// the catalogue has it (the Windows message table is checked against it too).
TEST(EventGuideTest, TableAgreesWithTheCatalogue) {
  const std::vector<std::string> placeholders = {"%1", "%2", "%3", "%4", "%5",
                                                 "%6", "%7", "%8", "%9"};
  std::string catalogue;
#define WENDREL_EVENT(id, level, name, text)                                          \
  catalogue += "| " #id " | " + std::string(LevelName(LevelOf(EventId::k##name))) + \
               " | " + RenderEvent(EventId::k##name, placeholders) + " |\n";
#include "resources/event_messages.def"
#undef WENDREL_EVENT

  std::istringstream guide(ReadFile(WENDREL_SOURCE_DIR "/docs/administration.md"));
  std::string rows;
  for (std::string line; std::getline(guide, line);) {
    if (line.size() < 3 || line.compare(0, 2, "| ") != 0 || !isdigit(line[2])) continue;
    size_t end = 0;  // after the first three cells
    for (int cell = 0; cell < 3 && end != std::string::npos; ++cell) end = line.find(" |", end + 1);
    rows += line.substr(0, end) + " |\n";
  }
  EXPECT_EQ(rows, catalogue);
}

}  // namespace
}  // namespace platform
}  // namespace wendrel
