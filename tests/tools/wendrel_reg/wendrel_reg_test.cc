// wendrel-reg's parts: key paths, value text and command-line data, .reg
// files read and written, and query /sec through the real binary. What the
// binary shows of ordinary values end_to_end.sh checks.

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "gtest/gtest.h"
#include "platform/environment.h"
#include "platform/registry.h"
#include "platform/security_descriptor.h"
#include "tests/unit/support/registry_fixture.h"
#include "tools/wendrel-reg/key_path.h"
#include "tools/wendrel-reg/reg_file_parser.h"
#include "tools/wendrel-reg/reg_file_writer.h"
#include "tools/wendrel-reg/value_format.h"

namespace wendrel {
namespace regtool {

// .reg operations compared and printed whole.
bool operator==(const RegFileOperation& a, const RegFileOperation& b) {
  return std::tie(a.kind, a.key, a.name, a.type, a.data, a.line) ==
         std::tie(b.kind, b.key, b.name, b.type, b.data, b.line);
}

void PrintTo(const RegFileOperation& op, std::ostream* out) {
  *out << "{kind " << static_cast<int>(op.kind) << ", \"" << op.key << "\", \"" << op.name
       << "\", type " << op.type << ", " << op.data.size() << " bytes:";
  for (uint8_t byte : op.data) *out << ' ' << static_cast<int>(byte);
  *out << ", line " << op.line << "}";
}

namespace {

using namespace platform;  // the REG_* types
using Bytes = std::vector<uint8_t>;
using Kind = RegFileOperation::Kind;

Bytes B(std::string_view s) { return Bytes(s.begin(), s.end()); }


TEST(KeyPathTest, AcceptsHklmInEitherSpellingAndNothingElse) {
  const struct {
    const char* path;
    const char* subkey;  // null: refused
    const char* error;
  } cases[] = {
      {"HKLM\\Software\\Tarvos", "Software\\Tarvos", ""},
      {"hkey_local_machine\\Software\\", "Software", ""},
      {"hklm", "", ""},
      {"HKCU\\Software", nullptr, "Only HKEY_LOCAL_MACHINE"},
      {"HKEY_USERS\\.DEFAULT", nullptr, "Only HKEY_LOCAL_MACHINE"},
      {"\\\\server\\HKLM\\Software", nullptr, "Remote"},
      {"HKLMX\\Software", nullptr, "Invalid key name"},
      {"Software\\Tarvos", nullptr, ""},
      {"HKLM\\Software\\\\Tarvos", nullptr, ""},
  };
  for (const auto& c : cases) {
    std::string subkey = "unchanged", error;
    const bool parsed = ParseKeyPath(c.path, &subkey, &error);
    EXPECT_EQ(c.subkey != nullptr ? c.subkey : "refused", parsed ? subkey : "refused") << c.path;
    EXPECT_NE(std::string::npos, error.find(c.error)) << c.path << ": " << error;
  }
  EXPECT_EQ("HKEY_LOCAL_MACHINE", FullKeyName(""));
}


TEST(ValueFormatTest, QueryLinesLookLikeRegExe) {
  const struct {
    const char* name;
    uint32_t type;
    Bytes data;
    const char* line;
  } cases[] = {
      {"", kRegSz, B(std::string("caf\xE9\0junk", 9)), "    (Default)    REG_SZ    caf\xC3\xA9"},
      {"M", kRegMultiSz, B(std::string("a\0\0b\0\0", 6)), "    M    REG_MULTI_SZ    a\\0\\0b"},
      {"M", kRegMultiSz, {0}, "    M    REG_MULTI_SZ    "},
      // A DWORD of the wrong size is shown as its bytes rather than misread.
      {"D", kRegDword, {1, 2}, "    D    REG_DWORD    0102"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.line, FormatValueLine(c.name, c.type, c.data));
  EXPECT_EQ("REG_0x12345", TypeName(0x12345));
}

TEST(ValueFormatTest, CommandLineDataByType) {
  uint32_t type = 0;
  ASSERT_TRUE(ParseTypeName("reg_qword", &type));
  EXPECT_EQ(kRegQword, type);
  EXPECT_FALSE(ParseTypeName("REG_LINK", &type));
  const std::string refused = "refused";
  const struct {
    uint32_t type;
    const char* text;
    const char* separator;
    Bytes expected;  // B(refused): refused
  } cases[] = {
      {kRegMultiSz, "a##b", "##", B(std::string("a\0b\0\0", 5))},
      {kRegDword, "0xFFFFFFFF", "", {0xFF, 0xFF, 0xFF, 0xFF}},
      {kRegDword, "258", "", {2, 1, 0, 0}},
      {kRegQword, "18446744073709551615", "", Bytes(8, 0xFF)},
      {kRegDword, "-1", "", B(refused)},
      {kRegDword, "0x", "", B(refused)}, {kRegDword, "12a", "", B(refused)},
      {kRegDword, "", "", B(refused)}, {kRegQword, "18446744073709551616", "", B(refused)},
      {kRegBinary, "abc", "", B(refused)}, {kRegNone, "zz", "", B(refused)},
      {kRegMultiSz, "a", "", B(refused)},
      // Text the code page cannot hold is refused, not stored as '?'.
      {kRegSz, "\xE2\x82\xAC \xE4\xB8\xAD", "\\0", B(refused)},
      {kRegMultiSz, "ok\\0\xFF", "\\0", B(refused)},
  };
  for (const auto& c : cases) {
    Bytes bytes;
    std::string error;
    const bool parsed = ParseCommandLineData(c.type, c.text, c.separator, &bytes, &error);
    EXPECT_EQ(c.expected, parsed ? bytes : B(refused)) << c.text << ": " << error;
    if (c.type == kRegSz && !parsed) {
      EXPECT_NE(std::string::npos, error.find("WINDOWS-1252")) << error;
    }
  }
}


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
      Set(k, "Count", kRegDword, {0x2A, 0, 0, 0}, 7),
      Set(k, "Blob", kRegBinary, {0x01, 0xAB, 0xFF}, 8),
      Set(k, "None", kRegNone, {}, 10),
      // Version 5 spells strings in hex as UTF-16LE; the store keeps ANSI.
      Set(k, "Expand", kRegExpandSz, B(std::string("%A%\0", 4)), 11),
      Set(k, "Multi", kRegMultiSz, B(std::string("a\0\xE9\0\0", 5)), 12),
      Set(k, "Big", kRegQword, {1, 2, 3, 4, 5, 6, 7, 8}, 13),
      {Kind::kDeleteValue, k, "Gone", 0, {}, 14},
      {Kind::kDeleteKey, "Software\\Old", "", 0, {}, 16},
      {Kind::kCreateKey, k + "\\Sub", "", 0, {}, 17},
      Set(k + "\\Sub", "a", kRegSz, B(std::string("b\0", 2)), 18),
  };
  const RegFileParseResult r = MustParse(file);
  EXPECT_EQ(RegFileFormat::kVersion5, r.format);
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

// REGEDIT4 keeps the bytes of hex strings as they are; continuations join
// hex data only.
TEST(RegFileParserTest, Regedit4IsAnsiAndKeepsHexStringBytes) {
  const RegFileParseResult r = MustParse(
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\S]\r\n"
      "\"Expand\"=hex(2):25,41,25,00\r\n"
      "\"h\"=hex(b):01,02,\\\n"
      "\t 03,04,\\\n"
      "   05,06,07,08\n"
      "\"s\"=\"ends in a backslash\\\\\"\n"
      "\"t\"=dword:1\n");
  EXPECT_EQ(RegFileFormat::kRegedit4, r.format);
  const std::vector<RegFileOperation> expected = {
      {Kind::kCreateKey, "S", "", 0, {}, 3},
      Set("S", "Expand", kRegExpandSz, B(std::string("%A%\0", 4)), 4),
      Set("S", "h", kRegQword, {1, 2, 3, 4, 5, 6, 7, 8}, 5),
      Set("S", "s", kRegSz, B(std::string("ends in a backslash\\\0", 21)), 8),
      Set("S", "t", kRegDword, {1, 0, 0, 0}, 9),
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
       {{"", kRegSz, B(std::string("x\0", 2))},
        {"Q\"\\", kRegSz, B(std::string("a\\\"b\0", 5))},
        {"D", kRegDword, {0x2A, 0, 0, 0x80}},
        {"E", kRegExpandSz, B(std::string("%A%\0", 4))},
        {"N", kRegNone, {}},
        {"W", kRegQword, {1, 0, 0, 0, 0, 0, 0, 0}}}},
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
      {"", kRegSz, B(std::string("d\xE9" "faut\0", 7))},
      {"unterminated", kRegSz, B("abc")},
      {"embedded zero", kRegSz, B(std::string("a\0b\0", 4))},
      {"line break", kRegSz, B(std::string("one\r\ntwo\0", 9))},
      {"empty", kRegSz, {}},
      {"just terminator", kRegSz, {0}},
      {"multi", kRegMultiSz, B(std::string("a\0\0\xFC\0\0", 6))},
      {"expand", kRegExpandSz, B(std::string("%SystemRoot%\0", 13))},
      {"short dword", kRegDword, {1, 2, 3}},
      {"binary", kRegBinary, long_binary},
      {"big endian", 5, {0, 0, 0, 1}},
      {"odd type", 0x12345, {9, 8}},
      {"caf\xE9 \"quoted\" \\", kRegDword, {0xFF, 0xFF, 0xFF, 0xFF}},
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
  EXPECT_FALSE(WriteRegFile({{"S", {{"v", kRegSz, {'a', 0x81, 0}}}}}, &bytes, &error));
  EXPECT_NE(std::string::npos, error.find("HKEY_LOCAL_MACHINE\\S value \"v\"")) << error;
  EXPECT_FALSE(WriteRegFile({{"S", {{"a\nb", kRegDword, {0, 0, 0, 0}}}}}, &bytes,
                            &error));
  EXPECT_NE(std::string::npos, error.find("line break")) << error;
  EXPECT_EQ("untouched", bytes);
  // Bytes that are not strings are never converted, whatever they hold.
  EXPECT_TRUE(WriteRegFile({{"S", {{"v", kRegBinary, {0x81}}}}}, &bytes, &error));
}

// A key created with an access list shows its descriptor as SDDL, a key
// without one shows no security line. The tool inherits $WENDREL_REGISTRY.
class QuerySecurityTest : public testing::RegistryTest {
 protected:
  // "<exit status>:<output>" of wendrel-reg query <key> [/sec].
  std::string Query(const std::string& key, const std::string& options) {
    const std::string output = Scratch() + "/out";
    const std::string command = std::string("\"") + WENDREL_REG_BINARY + "\" query \"" + key +
                                "\" " + options + " >\"" + output + "\" 2>&1 </dev/null";
    const int status = std::system(command.c_str());
    std::ifstream in(output, std::ios::binary);
    return std::to_string(status) + ":" +
           std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
};

TEST_F(QuerySecurityTest, ShowsTheDescriptorOfAKeyCreatedWithOne) {
  const std::vector<KeyAccessEntry> acl = {{"S-1-1-0", kTrusteeIsWellKnownGroup, kKeyRead},
                                           {"S-1-5-32-544", kTrusteeIsGroup, kKeyAllAccess}};
  RegKey key, plain;
  ASSERT_EQ(kRegSuccess,
            key.Create(RegKey::LocalMachine(), "Software\\Tarvos", kKeyAllAccess, &acl, nullptr));
  ASSERT_EQ(kRegSuccess, plain.Create(RegKey::LocalMachine(), "Software\\Plain", kKeyAllAccess,
                                      nullptr, nullptr));
  std::vector<uint8_t> descriptor;
  ASSERT_EQ(kRegSuccess, key.GetSecurity(&descriptor));
  const std::string sddl = SecurityDescriptorToSddl(descriptor);
  EXPECT_NE(std::string::npos, sddl.find("WD")) << sddl;  // Everyone, by its alias
  key.Close();
  plain.Close();

  const std::string tarvos = "\nHKEY_LOCAL_MACHINE\\Software\\Tarvos\n";
  EXPECT_EQ("0:" + tarvos + "    (Security)    " + sddl + "\n\n",
            Query("HKLM\\Software\\Tarvos", "/sec"));
  EXPECT_EQ("0:" + tarvos + "\n", Query("HKLM\\Software\\Tarvos", ""));
  EXPECT_EQ("0:\nHKEY_LOCAL_MACHINE\\Software\\Plain\n\n", Query("HKLM\\Software\\Plain", "/sec"));
}

}  // namespace
}  // namespace regtool
}  // namespace wendrel
