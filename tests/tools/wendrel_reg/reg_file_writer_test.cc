#include "tools/wendrel-reg/reg_file_writer.h"

#include <cstdint>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/registry.h"
#include "tests/tools/wendrel_reg/reg_test_support.h"
#include "tools/wendrel-reg/reg_file_parser.h"

namespace wendrel {
namespace regtool {
namespace {

// The UTF-16LE file as 8-bit text (the tests write ASCII only), or "" when
// the file is not UTF-16LE with a byte-order mark.
std::string Narrow(const std::string& bytes) {
  if (bytes.size() % 2 != 0 || bytes.compare(0, 2, "\xFF\xFE") != 0) return "";
  std::string text;
  for (size_t i = 2; i < bytes.size(); i += 2) {
    if (bytes[i + 1] != '\0') return "";
    text.push_back(bytes[i]);
  }
  return text;
}

TEST(RegFileWriterTest, WritesWhatRegeditWrites) {
  std::vector<ExportKey> keys = {
      {"Software\\Tarvos",
       {{"", platform::kRegSz, B(std::string("x\0", 2))},
        {"Q\"\\", platform::kRegSz, B(std::string("a\\\"b\0", 5))},
        {"D", platform::kRegDword, {0x2A, 0, 0, 0x80}},
        {"E", platform::kRegExpandSz, B(std::string("%A%\0", 4))},
        {"N", platform::kRegNone, {}},
        {"W", platform::kRegQword, {1, 0, 0, 0, 0, 0, 0, 0}}}},
      {"Software\\Tarvos\\Sub", {}},
  };
  std::string bytes;
  std::string error;
  ASSERT_TRUE(WriteRegFile(keys, &bytes, &error)) << error;
  EXPECT_EQ(
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Tarvos]\r\n"
      "@=\"x\"\r\n"
      "\"Q\\\"\\\\\"=\"a\\\\\\\"b\"\r\n"
      "\"D\"=dword:8000002a\r\n"
      "\"E\"=hex(2):25,00,41,00,25,00,00,00\r\n"
      "\"N\"=hex(0):\r\n"
      "\"W\"=hex(b):01,00,00,00,00,00,00,00\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Tarvos\\Sub]\r\n"
      "\r\n",
      Narrow(bytes));
}

TEST(RegFileWriterTest, EveryValueComesBackByteForByte) {
  Bytes long_binary;
  for (int i = 0; i < 300; ++i) long_binary.push_back(static_cast<uint8_t>(i * 7));
  const std::vector<ExportValue> values = {
      {"", platform::kRegSz, B(std::string("d\xE9" "faut\0", 7))},
      {"unterminated", platform::kRegSz, B("abc")},
      {"embedded zero", platform::kRegSz, B(std::string("a\0b\0", 4))},
      {"line break", platform::kRegSz, B(std::string("one\r\ntwo\0", 9))},
      {"empty", platform::kRegSz, {}},
      {"just terminator", platform::kRegSz, {0}},
      {"multi", platform::kRegMultiSz, B(std::string("a\0\0\xFC\0\0", 6))},
      {"expand", platform::kRegExpandSz, B(std::string("%SystemRoot%\0", 13))},
      {"short dword", platform::kRegDword, {1, 2, 3}},
      {"binary", platform::kRegBinary, long_binary},
      {"big endian", 5, {0, 0, 0, 1}},
      {"odd type", 0x12345, {9, 8}},
      {"caf\xE9 \"quoted\" \\", platform::kRegDword, {0xFF, 0xFF, 0xFF, 0xFF}},
  };
  std::string bytes;
  std::string error;
  ASSERT_TRUE(WriteRegFile({{"Software\\T\xE9st", values}}, &bytes, &error)) << error;

  RegFileParseResult parsed;
  ASSERT_TRUE(ParseRegFile(bytes, &parsed)) << parsed.error_line << ": " << parsed.error;
  std::vector<RegFileOperation> expected = {{Kind::kCreateKey, "Software\\T\xE9st", "", 0, {}, 0}};
  for (const ExportValue& v : values) {
    expected.push_back({Kind::kSetValue, "Software\\T\xE9st", v.name, v.type, v.data, 0});
  }
  for (RegFileOperation& op : parsed.operations) op.line = 0;  // wrapping moves them
  EXPECT_EQ(expected, parsed.operations);
  // Long hex data is wrapped: no line of the file is wider than regedit's.
  const std::string text = Narrow(bytes);
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find("\r\n", start);
    ASSERT_NE(std::string::npos, end);
    EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
    start = end + 2;
  }
}

TEST(RegFileWriterTest, RefusesWhatCouldNotComeBack) {
  std::string bytes = "untouched";
  std::string error;
  // 0x81 is not a character of WINDOWS-1252: it cannot survive UTF-16.
  EXPECT_FALSE(WriteRegFile({{"S", {{"v", platform::kRegSz, {'a', 0x81, 0}}}}}, &bytes, &error));
  EXPECT_NE(std::string::npos, error.find("HKEY_LOCAL_MACHINE\\S value \"v\"")) << error;
  EXPECT_FALSE(WriteRegFile({{"S", {{"a\nb", platform::kRegDword, {0, 0, 0, 0}}}}}, &bytes,
                            &error));
  EXPECT_NE(std::string::npos, error.find("line break")) << error;
  EXPECT_EQ("untouched", bytes);
  // Bytes that are not strings are never converted, whatever they hold.
  EXPECT_TRUE(WriteRegFile({{"S", {{"v", platform::kRegBinary, {0x81}}}}}, &bytes, &error));
}

}  // namespace
}  // namespace regtool
}  // namespace wendrel
