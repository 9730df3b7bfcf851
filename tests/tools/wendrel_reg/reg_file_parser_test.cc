#include "tools/wendrel-reg/reg_file_parser.h"

#include <cstdint>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/registry.h"
#include "tests/tools/wendrel_reg/reg_test_support.h"

namespace wendrel {
namespace regtool {
namespace {

using platform::kRegSz;

// The file as regedit writes it: UTF-16LE after a byte-order mark.
std::string Utf16File(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t u : text) {
    bytes.push_back(static_cast<char>(u & 0xFF));
    bytes.push_back(static_cast<char>(u >> 8));
  }
  return bytes;
}

RegFileParseResult MustParse(std::string_view bytes) {
  RegFileParseResult result;
  EXPECT_TRUE(ParseRegFile(bytes, &result)) << result.error_line << ": " << result.error;
  return result;
}

// The error line and message for a file that must be rejected.
RegFileParseResult MustFail(std::string_view bytes) {
  RegFileParseResult result;
  EXPECT_FALSE(ParseRegFile(bytes, &result));
  EXPECT_FALSE(result.error.empty());
  return result;
}

RegFileOperation Set(const std::string& key, const std::string& name, uint32_t type, Bytes data,
                     int line) {
  return {Kind::kSetValue, key, name, type, std::move(data), line};
}

TEST(RegFileParserTest, Version5Utf16FileWithEveryForm) {
  const std::string file = Utf16File(
      u"Windows Registry Editor Version 5.00\r\n"
      u"\r\n"
      u"; a comment, then a key\r\n"
      u"[HKEY_LOCAL_MACHINE\\Software\\Tarvos]\r\n"
      u"\"Path\"=\"C:\\\\Program Files\\\\\\\"x\\\"\"\r\n"
      u"@=\"d\u00e9faut\"\r\n"
      u"\"Count\"=dword:0000002A\r\n"
      u"\"Blob\"=hex:01,ab,\\\r\n"
      u"  FF\r\n"
      u"\"None\"=hex(0):\r\n"
      u"\"Expand\"=hex(2):25,00,41,00,25,00,00,00\r\n"
      u"\"Multi\"=hex(7):61,00,00,00,e9,00,00,00,00,00\r\n"
      u"\"Big\"=hex(b):01,02,03,04,05,06,07,08\r\n"
      u"\"Gone\"=-\r\n"
      u"\r\n"
      u"[-HKLM\\Software\\Old]\r\n"
      u"[hklm\\Software\\Tarvos\\Sub]\n"
      u"\"a\" = \"b\"   \n");
  const std::string k = "Software\\Tarvos";
  const std::vector<RegFileOperation> expected = {
      {Kind::kCreateKey, k, "", 0, {}, 4},
      Set(k, "Path", kRegSz, B(std::string("C:\\Program Files\\\"x\"\0", 21)), 5),
      Set(k, "", kRegSz, B(std::string("d\xE9" "faut\0", 7)), 6),  // stored in the ANSI code page
      Set(k, "Count", platform::kRegDword, {0x2A, 0, 0, 0}, 7),
      Set(k, "Blob", platform::kRegBinary, {0x01, 0xAB, 0xFF}, 8),
      Set(k, "None", platform::kRegNone, {}, 10),
      // Version 5 spells strings in hex as UTF-16LE; the store keeps ANSI.
      Set(k, "Expand", platform::kRegExpandSz, B(std::string("%A%\0", 4)), 11),
      Set(k, "Multi", platform::kRegMultiSz, B(std::string("a\0\xE9\0\0", 5)), 12),
      Set(k, "Big", platform::kRegQword, {1, 2, 3, 4, 5, 6, 7, 8}, 13),
      {Kind::kDeleteValue, k, "Gone", 0, {}, 14},
      {Kind::kDeleteKey, "Software\\Old", "", 0, {}, 16},
      {Kind::kCreateKey, k + "\\Sub", "", 0, {}, 17},
      Set(k + "\\Sub", "a", kRegSz, B(std::string("b\0", 2)), 18),
  };
  const RegFileParseResult r = MustParse(file);
  EXPECT_EQ(RegFileFormat::kVersion5, r.format);
  EXPECT_EQ(expected, r.operations);
}

TEST(RegFileParserTest, Regedit4IsAnsiAndKeepsHexStringBytes) {
  const RegFileParseResult r = MustParse(
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\S]\r\n"
      "\"Name\"=\"caf\xE9\"\r\n"
      "\"Expand\"=hex(2):25,41,25,00\r\n"
      "\"Multi\"=hex(7):61,00,62,00,00\r\n");
  EXPECT_EQ(RegFileFormat::kRegedit4, r.format);
  const std::vector<RegFileOperation> expected = {
      {Kind::kCreateKey, "S", "", 0, {}, 3},
      Set("S", "Name", kRegSz, B(std::string("caf\xE9\0", 5)), 4),
      Set("S", "Expand", platform::kRegExpandSz, B(std::string("%A%\0", 4)), 5),
      Set("S", "Multi", platform::kRegMultiSz, B(std::string("a\0b\0\0", 5)), 6),
  };
  EXPECT_EQ(expected, r.operations);
}

TEST(RegFileParserTest, Version5EightBitIsUtf8WhenValidElseAnsi) {
  const std::string head = "Windows Registry Editor Version 5.00\n[HKLM\\S]\n";
  std::string big_endian = "\xFE\xFF";  // a big-endian UTF-16 byte-order mark
  for (char c : head + "@=\"x\"\n") big_endian += std::string(1, '\0') + c;
  const struct {
    std::string file;
    std::string name, stored;
  } cases[] = {
      // UTF-8 é (C3 A9) and ANSI é (E9) both end up as the ANSI byte.
      {head + "\"n\"=\"\xC3\xA9\"\n", "n", "\xE9"},
      {head + "\"n\"=\"\xE9\"\n", "n", "\xE9"},
      {"\xEF\xBB\xBF" + head + "\"n\"=\"\xC3\xA9\"\n", "n", "\xE9"},  // a UTF-8 mark
      {big_endian, "", "x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::vector<RegFileOperation> expected = {
        {Kind::kCreateKey, "S", "", 0, {}, 2},
        Set("S", c.name, kRegSz, B(c.stored + std::string(1, '\0')), 3)};
    EXPECT_EQ(expected, MustParse(c.file).operations);
  }
}

TEST(RegFileParserTest, ContinuationsJoinOnlyHexData) {
  const RegFileParseResult r = MustParse(
      "REGEDIT4\n[HKLM\\S]\n"
      "\"h\"=hex(b):01,02,\\\n"
      "\t 03,04,\\\n"
      "   05,06,07,08\n"
      "\"s\"=\"ends in a backslash\\\\\"\n"
      "\"t\"=dword:1\n");
  const std::vector<RegFileOperation> expected = {
      {Kind::kCreateKey, "S", "", 0, {}, 2},
      Set("S", "h", platform::kRegQword, {1, 2, 3, 4, 5, 6, 7, 8}, 3),
      Set("S", "s", kRegSz, B(std::string("ends in a backslash\\\0", 21)), 6),
      Set("S", "t", platform::kRegDword, {1, 0, 0, 0}, 7),
  };
  EXPECT_EQ(expected, r.operations);
}

TEST(RegFileParserTest, ErrorsNameTheLine) {
  struct Case {
    std::string file;
    int line;
    const char* text;
  };
  const std::string h = "REGEDIT4\n";
  const Case cases[] = {
      {"REGEDIT5\n[HKLM\\S]\n", 1, "not a registry file"},
      {"", 0, "not a registry file"},
      {h + "\"a\"=\"b\"\n", 2, "before any [KEY]"},
      {h + "[HKLM\\S]\n\"a\"=\"C:\\temp\"\n", 3, "unknown escape"},
      {h + "[HKLM\\S]\n\"a\"=\"open\n", 3, "no closing quote"},
      {h + "[HKLM\\S]\n\"a\"=\"b\" junk\n", 3, "after the closing quote"},
      {h + "[HKLM\\S]\n\n\"a\"=dword:123456789\n", 4, "1 to 8 hex digits"},
      {h + "[HKLM\\S]\n\"a\"=dword:12g\n", 3, "bad hex digit"},
      {h + "[HKLM\\S]\n\"a\"=hex:01,02,\\\n  03,zz\n", 4, "bad byte"},
      {h + "[HKLM\\S]\n\"a\"=hex:01,\n", 3, "ends with a comma"},
      {h + "[HKLM\\S]\n\"a\"=hex:01 02\n", 3, "bad character"},
      {h + "[HKLM\\S]\n\"a\"=hex:01,\\\n", 3, "ends after a continuation"},
      {h + "[HKLM\\S]\n\"a\"=hex(q):01\n", 3, "hex(N)"},
      {h + "[HKLM\\S]\n\"a\"=word:1\n", 3, "unknown value data"},
      {h + "[HKLM\\S]\n\"a\"\n", 3, "expected '='"},
      {h + "[HKLM\\S]\n\"\"=\"x\"\n", 3, "empty value name"},
      {h + "[HKCU\\S]\n", 2, "Only HKEY_LOCAL_MACHINE"},
      {h + "[HKLM\\S\n", 2, "closing ']'"},
      {h + "[-HKLM]\n", 2, "cannot be deleted"},
      {h + "[-HKLM\\S]\n\"a\"=\"b\"\n", 3, "being deleted"},
      {h + "[HKLM\\S]\nfoo=bar\n", 3, "unexpected text"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\S]\n\"a\"=hex(2):41,00,42\n", 3,
       "even number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const RegFileParseResult r = MustFail(c.file);
    EXPECT_EQ(c.line, r.error_line) << r.error;
    EXPECT_NE(std::string::npos, r.error.find(c.text)) << r.error;
  }
  // A UTF-16 file cut in the middle of a character.
  RegFileParseResult r = MustFail(Utf16File(u"REGEDIT4\r\n") + "x");
  EXPECT_NE(std::string::npos, r.error.find("UTF-16"));
}

}  // namespace
}  // namespace regtool
}  // namespace wendrel
