#include "tools/wendrel-reg/value_format.h"

#include <cstdint>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/registry.h"
#include "tests/tools/wendrel_reg/reg_test_support.h"

namespace wendrel {
namespace regtool {
namespace {

using namespace platform;  // the REG_* types

TEST(ValueFormatTest, QueryLinesLookLikeRegExe) {
  EXPECT_EQ("    (Default)    REG_SZ    caf\xC3\xA9",
            FormatValueLine("", kRegSz, B(std::string("caf\xE9\0junk", 9))));
  EXPECT_EQ("    Path    REG_EXPAND_SZ    %A%",
            FormatValueLine("Path", kRegExpandSz, B(std::string("%A%\0", 4))));
  EXPECT_EQ("    M    REG_MULTI_SZ    a\\0\\0b",
            FormatValueLine("M", kRegMultiSz, B(std::string("a\0\0b\0\0", 6))));
  EXPECT_EQ("    M    REG_MULTI_SZ    ", FormatValueLine("M", kRegMultiSz, {0}));
  EXPECT_EQ("    D    REG_DWORD    0x2a", FormatValueLine("D", kRegDword, {42, 0, 0, 0}));
  EXPECT_EQ("    Q    REG_QWORD    0x100000000",
            FormatValueLine("Q", kRegQword, {0, 0, 0, 0, 1, 0, 0, 0}));
  EXPECT_EQ("    B    REG_BINARY    00ABFF",
            FormatValueLine("B", kRegBinary, {0x00, 0xAB, 0xFF}));
  EXPECT_EQ("    N    REG_NONE    ", FormatValueLine("N", kRegNone, {}));
  // A DWORD of the wrong size is shown as its bytes rather than misread.
  EXPECT_EQ("    D    REG_DWORD    0102", FormatValueLine("D", kRegDword, {1, 2}));
  EXPECT_EQ("REG_0x12345", TypeName(0x12345));
}

TEST(ValueFormatTest, CommandLineDataByType) {
  Bytes bytes;
  std::string error;
  uint32_t type = 0;
  ASSERT_TRUE(ParseTypeName("reg_qword", &type));
  EXPECT_EQ(kRegQword, type);
  EXPECT_FALSE(ParseTypeName("REG_LINK", &type));

  ASSERT_TRUE(ParseCommandLineData(kRegSz, "caf\xC3\xA9", "\\0", &bytes, &error));
  EXPECT_EQ(B(std::string("caf\xE9\0", 5)), bytes);
  ASSERT_TRUE(ParseCommandLineData(kRegMultiSz, "a\\0b", "\\0", &bytes, &error));
  EXPECT_EQ(B(std::string("a\0b\0\0", 5)), bytes);
  ASSERT_TRUE(ParseCommandLineData(kRegMultiSz, "a##b", "##", &bytes, &error));
  EXPECT_EQ(B(std::string("a\0b\0\0", 5)), bytes);
  ASSERT_TRUE(ParseCommandLineData(kRegDword, "0xFFFFFFFF", "", &bytes, &error));
  EXPECT_EQ((Bytes{0xFF, 0xFF, 0xFF, 0xFF}), bytes);
  ASSERT_TRUE(ParseCommandLineData(kRegDword, "258", "", &bytes, &error));
  EXPECT_EQ((Bytes{2, 1, 0, 0}), bytes);
  ASSERT_TRUE(
      ParseCommandLineData(kRegQword, "18446744073709551615", "", &bytes, &error));
  EXPECT_EQ(Bytes(8, 0xFF), bytes);
  ASSERT_TRUE(ParseCommandLineData(kRegBinary, "00aBfF", "", &bytes, &error));
  EXPECT_EQ((Bytes{0x00, 0xAB, 0xFF}), bytes);

  for (const char* bad : {"4294967296", "-1", "0x", "12a", ""}) {
    EXPECT_FALSE(ParseCommandLineData(kRegDword, bad, "", &bytes, &error)) << bad;
  }
  EXPECT_FALSE(ParseCommandLineData(kRegQword, "18446744073709551616", "", &bytes,
                                    &error));
  EXPECT_FALSE(ParseCommandLineData(kRegBinary, "abc", "", &bytes, &error));
  EXPECT_FALSE(ParseCommandLineData(kRegNone, "zz", "", &bytes, &error));
  EXPECT_FALSE(ParseCommandLineData(kRegMultiSz, "a", "", &bytes, &error));
  // Text the code page cannot hold is refused, not stored as '?'.
  EXPECT_FALSE(ParseCommandLineData(kRegSz, "\xE2\x82\xAC \xE4\xB8\xAD", "\\0",
                                    &bytes, &error));
  EXPECT_NE(std::string::npos, error.find("WINDOWS-1252")) << error;
  EXPECT_FALSE(ParseCommandLineData(kRegMultiSz, "ok\\0\xFF", "\\0", &bytes,
                                    &error));
}

}  // namespace
}  // namespace regtool
}  // namespace wendrel
