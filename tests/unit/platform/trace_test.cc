#include "platform/trace.h"

#include <regex>
#include <string>

#include "gtest/gtest.h"
#include "platform/environment.h"

namespace wendrel {
namespace platform {
namespace {

TEST(TraceTest, LineFormat) {
  EXPECT_EQ("[Wendrel-1A2B-FF] hello\n", FormatTraceLine(0x1A2B, 0xFF, "hello"));
  // A message that ends its own line gets no second newline.
  EXPECT_EQ("[Wendrel-0-0] done\n", FormatTraceLine(0, 0, "done\n"));
  EXPECT_EQ("[Wendrel-FFFFFFFF-ABCDEF01] \n", FormatTraceLine(0xFFFFFFFF, 0xABCDEF01, ""));
  EXPECT_EQ("[Wendrel-7-8] a\nb\n", FormatTraceLine(7, 8, "a\nb"));
}

TEST(TraceTest, LongLinesAreCutToTheLimitAndStayLines) {
  const std::string prefix = "[Wendrel-1-2] ";
  const std::string fits(kMaxTraceLine - prefix.size() - 1, 'm');
  EXPECT_EQ(prefix + fits + "\n", FormatTraceLine(1, 2, fits));
  const std::string line = FormatTraceLine(1, 2, std::string(5000, 'm'));
  EXPECT_EQ(1023u, line.size());
  EXPECT_EQ(kMaxTraceLine, line.size());
  EXPECT_EQ('\n', line.back());
  EXPECT_EQ(0u, line.find(prefix));
  EXPECT_EQ(line.size() - 1, line.find('\n'));  // one line, not two
}

TEST(TraceTest, TracingNeverOverrunsWhateverTheMessage) {
  // Natively this writes nothing unless WENDREL_TRACE is set; on Windows it
  // goes to the debugger output. Either way a message far over the limit and
  // a format with many arguments must be safe.
  const std::string big(10000, 'z');
  Trace("%s", big.c_str());
  Trace("%s %d %s %lu", big.c_str(), 42, big.c_str(), 7ul);
  Trace("no arguments");
}

#ifndef _WIN32
// Natively the trace goes to standard error while WENDREL_TRACE is set.
std::string CaptureTrace(const char* setting, const std::string& message) {
  SetEnvironmentVariable("WENDREL_TRACE", setting);
  ::testing::internal::CaptureStderr();
  Trace("%s #%d", message.c_str(), 7);
  const std::string out = ::testing::internal::GetCapturedStderr();
  SetEnvironmentVariable("WENDREL_TRACE", "");
  return out;
}

TEST(TraceTest, WritesOneLineToStandardErrorOnlyWhenEnabled) {
  const std::string line = CaptureTrace("1", "bind failed");
  const std::regex format(R"(\[Wendrel-[0-9A-F]+-[0-9A-F]+\] bind failed #7\n)");
  EXPECT_TRUE(std::regex_match(line, format)) << line;
  EXPECT_EQ("", CaptureTrace("", "quiet"));
  const std::string cut = CaptureTrace("1", std::string(3000, 'q'));
  EXPECT_EQ(kMaxTraceLine, cut.size());
  EXPECT_EQ('\n', cut.back());
}
#endif  // !_WIN32

}  // namespace
}  // namespace platform
}  // namespace wendrel
