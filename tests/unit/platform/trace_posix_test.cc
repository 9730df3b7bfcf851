// Natively the trace goes to standard error while WENDREL_TRACE is set.

#include <regex>
#include <string>

#include "gtest/gtest.h"
#include "platform/environment.h"
#include "platform/trace.h"

namespace wendrel {
namespace platform {
namespace {

std::string CaptureTrace(const char* setting, const std::string& message) {
  SetEnvironmentVariable("WENDREL_TRACE", setting);
  ::testing::internal::CaptureStderr();
  Trace("%s #%d", message.c_str(), 7);
  const std::string out = ::testing::internal::GetCapturedStderr();
  SetEnvironmentVariable("WENDREL_TRACE", "");
  return out;
}

TEST(TracePosixTest, WritesOneLineToStandardErrorOnlyWhenEnabled) {
  const std::string line = CaptureTrace("1", "bind failed");
  const std::regex format(R"(\[Wendrel-[0-9A-F]+-[0-9A-F]+\] bind failed #7\n)");
  EXPECT_TRUE(std::regex_match(line, format)) << line;
  EXPECT_EQ("", CaptureTrace("", "quiet"));

  const std::string cut = CaptureTrace("1", std::string(3000, 'q'));
  EXPECT_EQ(kMaxTraceLine, cut.size());
  EXPECT_EQ('\n', cut.back());
}

}  // namespace
}  // namespace platform
}  // namespace wendrel
