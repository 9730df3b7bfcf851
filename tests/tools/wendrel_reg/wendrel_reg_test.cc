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
#include "platform/registry.h"
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
using Operations = std::vector<RegFileOperation>;

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
  const Bytes refused = B("refused");
  const struct {
    uint32_t type;
    const char* text;
    const char* separator;
    Bytes expected;
  } cases[] = {
      {kRegMultiSz, "a##b", "##", B(std::string("a\0b\0\0", 5))},
      {kRegDword, "0xFFFFFFFF", "", {0xFF, 0xFF, 0xFF, 0xFF}},
      {kRegDword, "258", "", {2, 1, 0, 0}},
      {kRegQword, "18446744073709551615", "", Bytes(8, 0xFF)},
      {kRegDword, "-1", "", refused}, {kRegDword, "0x", "", refused},
      {kRegDword, "12a", "", refused}, {kRegDword, "", "", refused},
      {kRegQword, "18446744073709551616", "", refused}, {kRegBinary, "abc", "", refused},
      {kRegNone, "zz", "", refused}, {kRegMultiSz, "a", "", refused},
      // Text the code page cannot hold is refused, not stored as '?'.
      {kRegSz, "\xE2\x82\xAC \xE4\xB8\xAD", "\\0", refused},
      {kRegMultiSz, "ok\\0\xFF", "\\0", refused},
  };
  for (const auto& c : cases) {
    Bytes bytes;
    std::string error;
    const bool parsed = ParseCommandLineData(c.type, c.text, c.separator, &bytes, &error);
    EXPECT_EQ(c.expected, parsed ? bytes : refused) << c.text << ": " << error;
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

RegFileOperation Set(const std::string& key, const std::string& name, uint32_t type, Bytes data,
                     int line) {
  return {Kind::kSetValue, key, name, type, std::move(data), line};
}

TEST(RegFileParserTest, EveryFormInEachEncoding) {
  const std::string v5 = "Windows Registry Editor Version 5.00\n[HKLM\\S]\n";
  std::string big_endian = "\xFE\xFF";  // a big-endian UTF-16 byte-order mark
  for (char c : v5 + "@=\"x\"\n") big_endian += std::string(1, '\0') + c;
  const std::string k = "Software\\Tarvos";
  const auto one_value = [](std::string name, Bytes data) {
    return Operations{{Kind::kCreateKey, "S", "", 0, {}, 2}, Set("S", name, kRegSz, data, 3)};
  };
  const struct {
    std::string file;
    RegFileFormat format;
    Operations operations;
  } cases[] = {
      {Utf16File(u"Windows Registry Editor Version 5.00\r\n"
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
                 u"\"a\" = \"b\"   \n"),
       RegFileFormat::kVersion5,
       {{Kind::kCreateKey, k, "", 0, {}, 4},
        Set(k, "Path", kRegSz, B(std::string("C:\\Program Files\\\"x\"\0", 21)), 5),
        Set(k, "", kRegSz, B(std::string("d\xE9" "faut\0", 7)), 6),  // in the ANSI code page
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
        Set(k + "\\Sub", "a", kRegSz, B(std::string("b\0", 2)), 18)}},
      // Version 5 in 8 bits: UTF-8 é (C3 A9) and ANSI é (E9) both become the ANSI byte.
      {v5 + "\"n\"=\"\xC3\xA9\"\n", RegFileFormat::kVersion5, one_value("n", {0xE9, 0})},
      {v5 + "\"n\"=\"\xE9\"\n", RegFileFormat::kVersion5, one_value("n", {0xE9, 0})},
      {"\xEF\xBB\xBF" + v5 + "\"n\"=\"\xC3\xA9\"\n", RegFileFormat::kVersion5,  // a UTF-8 mark
       one_value("n", {0xE9, 0})},
      {big_endian, RegFileFormat::kVersion5, one_value("", {'x', 0})},
      // REGEDIT4 keeps the bytes of hex strings as they are; continuations
      // join hex data only.
      {"REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\S]\r\n"
       "\"Expand\"=hex(2):25,41,25,00\r\n"
       "\"h\"=hex(b):01,02,\\\n"
       "\t 03,04,\\\n"
       "   05,06,07,08\n"
       "\"s\"=\"ends in a backslash\\\\\"\n"
       "\"t\"=dword:1\n",
       RegFileFormat::kRegedit4,
       {{Kind::kCreateKey, "S", "", 0, {}, 3},
        Set("S", "Expand", kRegExpandSz, B(std::string("%A%\0", 4)), 4),
        Set("S", "h", kRegQword, {1, 2, 3, 4, 5, 6, 7, 8}, 5),
        Set("S", "s", kRegSz, B(std::string("ends in a backslash\\\0", 21)), 8),
        Set("S", "t", kRegDword, {1, 0, 0, 0}, 9)}},
  };
  for (const auto& c : cases) {
    RegFileParseResult r;
    EXPECT_TRUE(ParseRegFile(c.file, &r)) << c.file << ":" << r.error_line << ": " << r.error;
    EXPECT_EQ(c.format, r.format) << c.file;
    EXPECT_EQ(c.operations, r.operations) << c.file;
  }
}

TEST(RegFileParserTest, ErrorsNameTheLine) {
  const std::string h = "REGEDIT4\n";
  const struct {
    std::string file;
    int line;
    const char* text;
  } cases[] = {
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
      {Utf16File(u"REGEDIT4\r\n") + "x", 0, "UTF-16"},  // cut in the middle of a character
  };
  for (const auto& c : cases) {
    RegFileParseResult r;
    EXPECT_FALSE(ParseRegFile(c.file, &r)) << c.file;
    EXPECT_EQ(c.line, r.error_line) << c.file << ": " << r.error;
    EXPECT_NE(std::string::npos, r.error.find(c.text)) << c.file << ": " << r.error;
  }
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

TEST(RegFileWriterTest, WritesWhatRegeditWritesAndRefusesWhatCouldNotComeBack) {
  const std::string head = "Windows Registry Editor Version 5.00\r\n\r\n";
  const struct {
    std::vector<ExportKey> keys;
    std::string text;   // "untouched": refused
    const char* error;  // part of the refusal
  } cases[] = {
      {{{"Software\\Tarvos",
         {{"", kRegSz, B(std::string("x\0", 2))},
          {"Q\"\\", kRegSz, B(std::string("a\\\"b\0", 5))},
          {"D", kRegDword, {0x2A, 0, 0, 0x80}},
          {"E", kRegExpandSz, B(std::string("%A%\0", 4))},
          {"N", kRegNone, {}},
          {"W", kRegQword, {1, 0, 0, 0, 0, 0, 0, 0}}}},
        {"Software\\Tarvos\\Sub", {}}},
       head + "[HKEY_LOCAL_MACHINE\\Software\\Tarvos]\r\n"
              "@=\"x\"\r\n"
              "\"Q\\\"\\\\\"=\"a\\\\\\\"b\"\r\n"
              "\"D\"=dword:8000002a\r\n"
              "\"E\"=hex(2):25,00,41,00,25,00,00,00\r\n"
              "\"N\"=hex(0):\r\n"
              "\"W\"=hex(b):01,00,00,00,00,00,00,00\r\n"
              "\r\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Tarvos\\Sub]\r\n"
              "\r\n",
       ""},
      // 0x81 is not a character of WINDOWS-1252: it cannot survive UTF-16.
      {{{"S", {{"v", kRegSz, {'a', 0x81, 0}}}}}, "untouched", "HKEY_LOCAL_MACHINE\\S value \"v\""},
      {{{"S", {{"a\nb", kRegDword, {0, 0, 0, 0}}}}}, "untouched", "line break"},
      // Bytes that are not strings are never converted, whatever they hold.
      {{{"S", {{"v", kRegBinary, {0x81}}}}},
       head + "[HKEY_LOCAL_MACHINE\\S]\r\n\"v\"=hex:81\r\n\r\n", ""},
  };
  for (const auto& c : cases) {
    std::string bytes = "untouched", error;
    EXPECT_EQ(c.text, WriteRegFile(c.keys, &bytes, &error) ? Narrow(bytes) : bytes) << error;
    EXPECT_NE(std::string::npos, error.find(c.error)) << error;
  }
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
  std::string bytes, error;
  ASSERT_TRUE(WriteRegFile({{"Software\\T\xE9st", values}}, &bytes, &error)) << error;

  RegFileParseResult parsed;
  ASSERT_TRUE(ParseRegFile(bytes, &parsed)) << parsed.error_line << ": " << parsed.error;
  Operations expected = {{Kind::kCreateKey, "Software\\T\xE9st", "", 0, {}, 0}};
  for (const ExportValue& v : values) {
    expected.push_back(Set("Software\\T\xE9st", v.name, v.type, v.data, 0));
  }
  for (RegFileOperation& op : parsed.operations) op.line = 0;  // wrapping moves them
  EXPECT_EQ(expected, parsed.operations);
  // Long hex data is wrapped: no line of the file is wider than regedit's.
  const std::string text = Narrow(bytes);
  for (size_t start = 0, end; start < text.size(); start = end + 2) {
    end = text.find("\r\n", start);
    ASSERT_NE(std::string::npos, end);
    EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
  }
}

// A key created with an access list shows its descriptor as SDDL, a key
// without one shows no security line. The tool inherits $WENDREL_REGISTRY.
using QuerySecurityTest = testing::RegistryTest;

TEST_F(QuerySecurityTest, ShowsTheDescriptorOfAKeyCreatedWithOne) {
  const std::vector<KeyAccessEntry> acl = {{"S-1-1-0", kTrusteeIsWellKnownGroup, kKeyRead},
                                           {"S-1-5-32-544", kTrusteeIsGroup, kKeyAllAccess}};
  RegKey key;
  ASSERT_EQ(kRegSuccess,
            key.Create(RegKey::LocalMachine(), "Software\\Tarvos", kKeyAllAccess, &acl, nullptr));
  key.Close();
  CreateKey("Software\\Plain");
  const std::string sddl = testing::RegSddl("Software\\Tarvos");
  EXPECT_NE(std::string::npos, sddl.find("WD")) << sddl;  // Everyone, by its alias

  // "<exit status>:<output>" of wendrel-reg query <key> [/sec].
  const auto query = [this](const std::string& key, const std::string& options) {
    const std::string output = Scratch() + "/out";
    const std::string command = std::string("\"") + WENDREL_REG_BINARY + "\" query \"" + key +
                                "\" " + options + " >\"" + output + "\" 2>&1 </dev/null";
    const int status = std::system(command.c_str());
    std::ifstream in(output, std::ios::binary);
    return std::to_string(status) + ":" +
           std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
  const std::string tarvos = "\nHKEY_LOCAL_MACHINE\\Software\\Tarvos\n";
  EXPECT_EQ("0:" + tarvos + "    (Security)    " + sddl + "\n\n",
            query("HKLM\\Software\\Tarvos", "/sec"));
  EXPECT_EQ("0:" + tarvos + "\n", query("HKLM\\Software\\Tarvos", ""));
  EXPECT_EQ("0:\nHKEY_LOCAL_MACHINE\\Software\\Plain\n\n", query("HKLM\\Software\\Plain", "/sec"));
}

}  // namespace
}  // namespace regtool
}  // namespace wendrel
