#include "tools/wendrel-reg/reg_file_parser.h"

#include <cstdint>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/registry.h"

namespace wendrel {
namespace regtool {
namespace {

using Kind = RegFileOperation::Kind;
using Bytes = std::vector<uint8_t>;

// The file as regedit writes it: UTF-16LE after a byte-order mark.
std::string Utf16File(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t u : text) {
    bytes.push_back(static_cast<char>(u & 0xFF));
    bytes.push_back(static_cast<char>(u >> 8));
  }
  return bytes;
}

Bytes B(std::string_view s) { return Bytes(s.begin(), s.end()); }

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
  const RegFileParseResult r = MustParse(file);
  EXPECT_EQ(RegFileFormat::kVersion5, r.format);
  ASSERT_EQ(13u, r.operations.size());
  const auto& ops = r.operations;
  EXPECT_EQ(Kind::kCreateKey, ops[0].kind);
  EXPECT_EQ("Software\\Tarvos", ops[0].key);
  EXPECT_EQ(4, ops[0].line);

  EXPECT_EQ(Kind::kSetValue, ops[1].kind);
  EXPECT_EQ("Software\\Tarvos", ops[1].key);
  EXPECT_EQ("Path", ops[1].name);
  EXPECT_EQ(platform::kRegSz, ops[1].type);
  EXPECT_EQ(B(std::string("C:\\Program Files\\\"x\"", 20) + std::string(1, '\0')), ops[1].data);

  EXPECT_EQ("", ops[2].name);  // @: stored in the ANSI code page
  EXPECT_EQ(B(std::string("d\xE9" "faut\0", 7)), ops[2].data);

  EXPECT_EQ(platform::kRegDword, ops[3].type);
  EXPECT_EQ((Bytes{0x2A, 0, 0, 0}), ops[3].data);

  EXPECT_EQ(platform::kRegBinary, ops[4].type);
  EXPECT_EQ((Bytes{0x01, 0xAB, 0xFF}), ops[4].data);
  EXPECT_EQ(8, ops[4].line);

  EXPECT_EQ(platform::kRegNone, ops[5].type);
  EXPECT_TRUE(ops[5].data.empty());

  // Version 5 spells strings in hex as UTF-16LE; the store keeps ANSI.
  EXPECT_EQ(platform::kRegExpandSz, ops[6].type);
  EXPECT_EQ(B(std::string("%A%\0", 4)), ops[6].data);
  EXPECT_EQ(platform::kRegMultiSz, ops[7].type);
  EXPECT_EQ(B(std::string("a\0\xE9\0\0", 5)), ops[7].data);

  EXPECT_EQ(platform::kRegQword, ops[8].type);
  EXPECT_EQ((Bytes{1, 2, 3, 4, 5, 6, 7, 8}), ops[8].data);

  EXPECT_EQ(Kind::kDeleteValue, ops[9].kind);
  EXPECT_EQ("Gone", ops[9].name);

  EXPECT_EQ(Kind::kDeleteKey, ops[10].kind);
  EXPECT_EQ("Software\\Old", ops[10].key);
  EXPECT_EQ(16, ops[10].line);

  EXPECT_EQ(Kind::kCreateKey, ops[11].kind);
  EXPECT_EQ("Software\\Tarvos\\Sub", ops[11].key);
  EXPECT_EQ("a", ops[12].name);
  EXPECT_EQ(B(std::string("b\0", 2)), ops[12].data);
  EXPECT_EQ(18, ops[12].line);
}

TEST(RegFileParserTest, Regedit4IsAnsiAndKeepsHexStringBytes) {
  const std::string file =
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Tarvos]\r\n"
      "\"Name\"=\"caf\xE9\"\r\n"
      "\"Expand\"=hex(2):25,41,25,00\r\n"
      "\"Multi\"=hex(7):61,00,62,00,00\r\n";
  const RegFileParseResult r = MustParse(file);
  EXPECT_EQ(RegFileFormat::kRegedit4, r.format);
  ASSERT_EQ(4u, r.operations.size());
  EXPECT_EQ(B(std::string("caf\xE9\0", 5)), r.operations[1].data);
  EXPECT_EQ(B(std::string("%A%\0", 4)), r.operations[2].data);
  EXPECT_EQ(B(std::string("a\0b\0\0", 5)), r.operations[3].data);
}

TEST(RegFileParserTest, Version5EightBitIsUtf8WhenValidElseAnsi) {
  const std::string head = "Windows Registry Editor Version 5.00\n[HKLM\\S]\n";
  // UTF-8 é (C3 A9) and ANSI é (E9) both end up as the ANSI byte.
  RegFileParseResult r = MustParse(head + "\"n\"=\"\xC3\xA9\"\n");
  ASSERT_EQ(2u, r.operations.size());
  EXPECT_EQ(B(std::string("\xE9\0", 2)), r.operations[1].data);
  r = MustParse(head + "\"n\"=\"\xE9\"\n");
  ASSERT_EQ(2u, r.operations.size());
  EXPECT_EQ(B(std::string("\xE9\0", 2)), r.operations[1].data);
  // A UTF-8 byte-order mark, and a big-endian UTF-16 one.
  r = MustParse("\xEF\xBB\xBF" + head + "\"n\"=\"\xC3\xA9\"\n");
  ASSERT_EQ(2u, r.operations.size());
  EXPECT_EQ(B(std::string("\xE9\0", 2)), r.operations[1].data);
  std::string be = "\xFE\xFF";
  for (char c : head + "@=\"x\"\n") {
    be.push_back('\0');
    be.push_back(c);
  }
  r = MustParse(be);
  ASSERT_EQ(2u, r.operations.size());
  EXPECT_EQ(B(std::string("x\0", 2)), r.operations[1].data);
}

TEST(RegFileParserTest, ContinuationsJoinOnlyHexData) {
  const std::string file =
      "REGEDIT4\n[HKLM\\S]\n"
      "\"h\"=hex(b):01,02,\\\n"
      "\t 03,04,\\\n"
      "   05,06,07,08\n"
      "\"s\"=\"ends in a backslash\\\\\"\n"
      "\"t\"=dword:1\n";
  const RegFileParseResult r = MustParse(file);
  ASSERT_EQ(4u, r.operations.size());
  EXPECT_EQ((Bytes{1, 2, 3, 4, 5, 6, 7, 8}), r.operations[1].data);
  EXPECT_EQ(B(std::string("ends in a backslash\\\0", 21)), r.operations[2].data);
  EXPECT_EQ(6, r.operations[2].line);
  EXPECT_EQ((Bytes{1, 0, 0, 0}), r.operations[3].data);
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
