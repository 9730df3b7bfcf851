// Texts: code page conversions, the string table with language modules, and
// DN splits the way both LDAP backends hand RDNs to the directory code.

#include <cstring>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/codepage.h"
#include "platform/environment.h"
#include "platform/ldap_dn.h"
#include "platform/resources.h"
#include "tests/unit/support/test_language.h"

namespace wendrel {
namespace platform {
namespace {

bool AnsiIsWindows1252() {
  const std::string name = AnsiCodePageName();
  return name == "WINDOWS-1252" || name == "1252";
}

TEST(CodePageTest, Utf8AndUtf16RoundTrip) {
  const std::string utf8 =
      "jsmith caf\xC3\xA9 \xE2\x82\xAC \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80";
  const std::u16string utf16 = u"jsmith caf\u00E9 \u20AC \u65E5\u672C \U0001F600";
  EXPECT_EQ(utf16, Utf8ToUtf16(utf8));
  EXPECT_EQ(utf8, Utf16ToUtf8(utf16));
  EXPECT_EQ(u"", Utf8ToUtf16(""));
  EXPECT_EQ("", Utf16ToUtf8(u""));
  // An embedded zero is a character like any other.
  EXPECT_EQ(std::u16string(u"a\0b", 3), Utf8ToUtf16(std::string("a\0b", 3)));
}

TEST(CodePageTest, InvalidUtf8BecomesOneReplacementPerBrokenSequence) {
  EXPECT_EQ(u"a\uFFFDb", Utf8ToUtf16("a\x80" "b"));         // stray continuation byte
  EXPECT_EQ(u"\uFFFD", Utf8ToUtf16("\xC3"));                 // cut at the end
  EXPECT_EQ(u"\uFFFDx", Utf8ToUtf16("\xE2\x82x"));           // cut before an ASCII byte
  EXPECT_EQ(u"\uFFFD", Utf8ToUtf16("\xF0\x9F\x98"));         // four-byte form cut short
  EXPECT_EQ(u"\uFFFD\uFFFD", Utf8ToUtf16("\xC0\xAF"));       // overlong '/'
  EXPECT_EQ(u"\uFFFD\uFFFD\uFFFD", Utf8ToUtf16("\xE0\x80\xAF"));       // overlong
  EXPECT_EQ(u"\uFFFD\uFFFD\uFFFD", Utf8ToUtf16("\xED\xA0\x80"));       // encoded surrogate
  EXPECT_EQ(u"\uFFFD\uFFFD\uFFFD\uFFFD", Utf8ToUtf16("\xF4\x90\x80\x80"));  // > U+10FFFF
  EXPECT_EQ(u"\uFFFD\uFFFD", Utf8ToUtf16("\xFE\xFF"));
}

TEST(CodePageTest, LoneSurrogatesBecomeReplacementInUtf8) {
  EXPECT_EQ("a\xEF\xBF\xBD" "b", Utf16ToUtf8(std::u16string(u"a") + char16_t(0xD800) + u"b"));
  EXPECT_EQ("\xEF\xBF\xBD", Utf16ToUtf8(std::u16string(1, char16_t(0xDC00))));
  EXPECT_EQ("\xEF\xBF\xBD", Utf16ToUtf8(std::u16string(1, char16_t(0xD83D))));
}

TEST(CodePageTest, AnsiRoundTripInWindows1252) {
  if (!AnsiIsWindows1252()) GTEST_SKIP() << "ANSI code page is " << AnsiCodePageName();
  const std::string ansi = "M\xFCller caf\xE9 \x80 \x9F";
  const std::u16string utf16 = u"M\u00FCller caf\u00E9 \u20AC \u0178";
  EXPECT_EQ(utf16, AnsiToUtf16(ansi));
  EXPECT_EQ(ansi, Utf16ToAnsi(utf16));
  EXPECT_EQ(std::string("a\0b", 3), Utf16ToAnsi(std::u16string(u"a\0b", 3)));
  EXPECT_EQ("", Utf16ToAnsi(u""));
  EXPECT_EQ(u"", AnsiToUtf16(""));
  // Every byte that the code page defines comes back unchanged.
  std::string all;
  for (int b = 1; b < 256; ++b) {
    if (b != 0x81 && b != 0x8D && b != 0x8F && b != 0x90 && b != 0x9D) {
      all.push_back(static_cast<char>(b));
    }
  }
  EXPECT_EQ(all, Utf16ToAnsi(AnsiToUtf16(all)));
}

TEST(CodePageTest, CharactersOutsideTheCodePageBecomeQuestionMarks) {
  if (!AnsiIsWindows1252()) GTEST_SKIP() << "ANSI code page is " << AnsiCodePageName();
  // No look-alikes: A-macron is not written as A, and the ideographs are not
  // dropped.
  EXPECT_EQ("x?y??z", Utf16ToAnsi(u"x\u0100y\u65E5\u672Cz"));
  EXPECT_EQ("a?b", Utf16ToAnsi(std::u16string(u"a") + char16_t(0xDC00) + u"b"));
  EXPECT_EQ("a?", Utf16ToAnsi(std::u16string(u"a") + char16_t(0xD800)));
  const std::string emoji = Utf16ToAnsi(u"a\U0001F600b");
  EXPECT_EQ('a', emoji.front());
  EXPECT_EQ('b', emoji.back());
  EXPECT_EQ(std::string::npos, emoji.find_first_not_of("ab?")) << emoji;
}

TEST(CodePageTest, UndefinedAnsiBytesNeverVanish) {
  if (!AnsiIsWindows1252()) GTEST_SKIP() << "ANSI code page is " << AnsiCodePageName();
  const std::u16string got = AnsiToUtf16("a\x81" "b");
  ASSERT_EQ(3u, got.size());
  EXPECT_EQ(u'a', got[0]);
  EXPECT_EQ(u'b', got[2]);
#ifdef _WIN32
  EXPECT_EQ(u'\u0081', got[1]);  // Windows maps the five holes to C1 controls
#else
  EXPECT_EQ(u'\uFFFD', got[1]);
#endif
}

TEST(CodePageTest, LongTextsConvertWhole) {
  std::u16string big;
  for (int i = 0; i < 5000; ++i) big += u"ab\u00E9\u20AC\U0001F600";
  const std::string utf8 = Utf16ToUtf8(big);
  EXPECT_EQ(big, Utf8ToUtf16(utf8));
  if (AnsiIsWindows1252()) {
    const std::string ansi = Utf16ToAnsi(big);
    EXPECT_EQ(0u, ansi.rfind("ab\xE9\x80", 0));
    EXPECT_GE(ansi.size(), 5000u * 5);
    EXPECT_EQ(AnsiToUtf16(ansi), AnsiToUtf16(Utf16ToAnsi(AnsiToUtf16(ansi))));
  }
}

TEST(CodePageTest, TruncateUtf16KeepsSurrogatePairsWhole) {
  const std::u16string a300(300, u'a');
  EXPECT_EQ(260u, TruncateUtf16(a300, 260).size());
  EXPECT_EQ(u"abc", TruncateUtf16(u"abc", 260));
  EXPECT_EQ(u"", TruncateUtf16(u"abc", 0));

  // A pair across the cut: units 259 and 260 (0-based) form one character.
  std::u16string paired(259, u'a');
  paired += u"\U0001F600tail";
  EXPECT_EQ(259u, TruncateUtf16(paired, 260).size());
  EXPECT_EQ(261u, TruncateUtf16(paired, 261).size());
  // A pair that ends exactly at the cut stays.
  std::u16string fits(258, u'a');
  fits += u"\U0001F600tail";
  EXPECT_EQ(260u, TruncateUtf16(fits, 260).size());
  // A lone high surrogate before the cut is not a pair: cut where asked.
  std::u16string lone(259, u'a');
  lone += char16_t(0xD800);
  lone += u"zz";
  EXPECT_EQ(260u, TruncateUtf16(lone, 260).size());
}

// The ASCII shortcut and the conversion through UTF-16 give the same bytes:
// at the length limit, past it, and for text that is not all ASCII.
TEST(CodePageTest, Utf8ToAnsiIsTheConversionThroughUtf16) {
  auto through_utf16 = [](const std::string& utf8, size_t units) {
    return Utf16ToAnsi(TruncateUtf16(Utf8ToUtf16(utf8), units));
  };
  EXPECT_TRUE(AnsiKeepsAscii());  // every code page these tests run in
  for (const std::string& text :
       {std::string(), std::string("jsmith"), std::string(260, 'a'), std::string(261, 'a'),
        std::string("tab\tand\x7f"), std::string("Zo\xC3\xAB"), std::string("\xFF broken"),
        std::string(259, 'a') + "\xF0\x9F\x98\x80"}) {
    EXPECT_EQ(through_utf16(text, 260), Utf8ToAnsi(text, 260)) << text.size();
    EXPECT_EQ(through_utf16(text, 3), Utf8ToAnsi(text, 3)) << text.size();
  }
  EXPECT_EQ(std::string(260, 'a'), Utf8ToAnsi(std::string(300, 'a'), 260));
}

TEST(CodePageTest, AnsiCharLengthSingleByte) {
  EXPECT_EQ(0u, AnsiCharLength(""));
  EXPECT_EQ(1u, AnsiCharLength("a"));
  EXPECT_EQ(1u, AnsiCharLength(" x"));
  if (AnsiIsWindows1252()) {
    EXPECT_EQ(1u, AnsiCharLength("\xE9\xE9"));
    EXPECT_EQ(1u, AnsiCharLength("\x81\x40"));
  }
}

#ifndef _WIN32
// A double-byte ANSI code page, chosen through $WENDREL_ACP. The code page is
// fixed at its first use in a process, so this runs only where it comes
// first: CTest runs every test case in a process of its own.
TEST(CodePageDoubleByteTest, Cp932) {
  SetEnvironmentVariable("WENDREL_ACP", "CP932");
  if (AnsiCodePageName() != "CP932") {
    GTEST_SKIP() << "code page already fixed as " << AnsiCodePageName() << " in this process";
  }
  const std::string nihongo = "\x93\xFA\x96\x7B\x8C\xEA";  // three ideographs
  EXPECT_EQ(u"\u65E5\u672C\u8A9E", AnsiToUtf16(nihongo));
  EXPECT_EQ(nihongo, Utf16ToAnsi(u"\u65E5\u672C\u8A9E"));
  EXPECT_EQ("a?b", Utf16ToAnsi(u"a\u00E9b"));          // no e-acute in CP932
  EXPECT_EQ(u"a\uFFFD", AnsiToUtf16("a\x93"));          // lead byte without trail

  EXPECT_EQ(2u, AnsiCharLength("\x93\xFA"));
  EXPECT_EQ(2u, AnsiCharLength("\x82\xA0z"));
  EXPECT_EQ(1u, AnsiCharLength("\x93"));                // lead byte before the end
  EXPECT_EQ(1u, AnsiCharLength("\xB1"));                // half-width katakana
  EXPECT_EQ(1u, AnsiCharLength("a"));
  EXPECT_EQ(0u, AnsiCharLength(""));

  // A text cut to a buffer keeps double-byte characters whole.
  const std::string path = testing::WriteLanguageFile(
      "cp932", "1\t\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\n");
  std::string error;
  ResourceModule module = LoadLanguageModule(path, &error);
  RemoveFile(path);
  ASSERT_NE(nullptr, module) << error;
  SetCurrentResourceModule(module);
  char buffer[8];
  std::memset(buffer, 'x', sizeof(buffer));
  EXPECT_EQ(2u, LoadResourceString(1, buffer, 4));
  EXPECT_STREQ("\x93\xFA", buffer);
  EXPECT_EQ(nihongo, LoadResourceString(1));
  FreeLanguageModule(module);
}

// A code page that writes ASCII differently gets no ASCII shortcut.
TEST(CodePageDoubleByteTest, Utf7KeepsNoAscii) {
  SetEnvironmentVariable("WENDREL_ACP", "UTF-7");
  if (AnsiCodePageName() != "UTF-7") {
    GTEST_SKIP() << "code page already fixed as " << AnsiCodePageName() << " in this process";
  }
  EXPECT_FALSE(AnsiKeepsAscii());
  EXPECT_EQ("a+-b", Utf8ToAnsi("a+b", 260));  // '+' opens a shift in UTF-7
}

TEST(CodePageDoubleByteTest, UnknownCodePageFallsBackToWindows1252) {
  SetEnvironmentVariable("WENDREL_ACP", "NO-SUCH-CODE-PAGE-7");
  const std::string name = AnsiCodePageName();
  if (name != "WINDOWS-1252") GTEST_SKIP() << "code page already fixed as " << name;
  EXPECT_EQ("caf\xE9", Utf16ToAnsi(u"caf\u00E9"));
}
#endif  // !_WIN32

// The extension's table as users must see it, written out here rather than
// taken from the table source, so that an edit there shows up as a failure;
// by id from 0 (none) to 37.
const char* const kExpected[] = {
    nullptr, "User Name", "User Context", "Context Selection for tree: %s",
    "Please select a user name", "Full Name", "EMail Name", "Unique ID", "LDAP Error: 0x%x",
    "LDAP Successful", "No such attribute.", "Alias problem.", "Alias dereferencing problem.",
    "Inappropriate authorization.", "Invalid credentials.", "Insufficient access.", "LDAP is busy.",
    "Unavailable.", "LDAP Server is unavailable.", "Timeout exceeded while searching for user.",
    "No memory.", "LDAP Contextless Login: ", "Bad options configuration",
    "Bad server configuration", "Bad tree configuration", "Could not load SSL certificate file.",
    "No LDAP server specified.", "LDAP client could not initialize.",
    "User not found after searching the trees on the following LDAP server(s):",
    "Wildcard not allowed", "No search options specified",
    "Couldn't get tree name from server. Probably not a KDX v8.x or later server.",
    "User not found in first available tree. Continue searching other trees?",
    "Connection attempts to the following LDAP servers failed:", "Given Name", "Surname",
    "Telephone Number", "Invalid scope context specified. Searching will continue.",
};

TEST(ResourcesTest, EveryOwnTextLoadsExactly) {
  SetCurrentResourceModule(nullptr);
  for (uint32_t id = 1; id <= 37; ++id) {
    EXPECT_EQ(kExpected[id], LoadResourceString(id)) << "id " << id;
    char buffer[261];
    EXPECT_EQ(std::strlen(kExpected[id]), LoadResourceString(id, buffer, sizeof(buffer)));
    EXPECT_STREQ(kExpected[id], buffer);
  }
  // The own module named explicitly is the same table.
  SetCurrentResourceModule(OwnModule());
  EXPECT_EQ("User Name", LoadResourceString(1));
  SetCurrentResourceModule(nullptr);
}

TEST(ResourcesTest, MissingIdsLoadEmpty) {
  SetCurrentResourceModule(nullptr);
  for (uint32_t id : {0u, 38u, 100u, 9001u, 9002u, 65535u}) {
    char buffer[16];
    std::memset(buffer, 'x', sizeof(buffer));
    EXPECT_EQ(0u, LoadResourceString(id, buffer, sizeof(buffer))) << "id " << id;
    EXPECT_EQ('\0', buffer[0]);
    EXPECT_EQ("", LoadResourceString(id));
  }
}

TEST(ResourcesTest, TextsAreCutToTheBufferAndTerminated) {
  SetCurrentResourceModule(nullptr);
  char buffer[12];
  std::memset(buffer, 'x', sizeof(buffer));
  EXPECT_EQ(4u, LoadResourceString(28, buffer, 5));
  EXPECT_STREQ("User", buffer);
  for (size_t i = 5; i < sizeof(buffer); ++i) EXPECT_EQ('x', buffer[i]) << i;

  std::memset(buffer, 'x', sizeof(buffer));
  EXPECT_EQ(0u, LoadResourceString(28, buffer, 0));
  EXPECT_EQ('x', buffer[0]);
  EXPECT_EQ(0u, LoadResourceString(28, nullptr, 10));
}

TEST(ResourcesTest, LanguageModuleReplacesTheTableWhileCurrent) {
  SetCurrentResourceModule(nullptr);
  {
    testing::ScopedTestLanguage language;
    ASSERT_TRUE(language.loaded()) << language.error();
    EXPECT_EQ(language.module(), CurrentResourceModule());
    EXPECT_EQ("Benutzername", LoadResourceString(1));
    EXPECT_EQ("Anmeldung: ", LoadResourceString(21));
    EXPECT_EQ("Nicht gefunden auf\nServern:", LoadResourceString(28));
    EXPECT_EQ("Zeit\tabgelaufen", LoadResourceString(19));
    EXPECT_EQ("Nur im Sprachmodul", LoadResourceString(40));
    // An id the module lacks is empty: the own table does not fill in.
    EXPECT_EQ("", LoadResourceString(2));
    EXPECT_EQ("", LoadResourceString(37));
  }
  EXPECT_EQ(nullptr, CurrentResourceModule());
  EXPECT_EQ("User Name", LoadResourceString(1));
  EXPECT_EQ("User Context", LoadResourceString(2));
  EXPECT_EQ("", LoadResourceString(40));
}

TEST(ResourcesTest, ReleasingTheCurrentModuleFallsBackToTheOwnTable) {
  SetCurrentResourceModule(nullptr);
  testing::ScopedTestLanguage language;
  ASSERT_TRUE(language.loaded()) << language.error();
  // A second load of the same module, made current and released while
  // current: texts come from the own table again, never from freed memory.
  std::string error;
#ifdef _WIN32
  ResourceModule second = LoadLanguageModule("wendrel_test_language.dll", &error);
#else
  const std::string path = testing::WriteLanguageFile("second", "1\tZweiter\n");
  ResourceModule second = LoadLanguageModule(path, &error);
  RemoveFile(path);
#endif
  ASSERT_NE(nullptr, second) << error;
  SetCurrentResourceModule(second);
  EXPECT_NE("User Name", LoadResourceString(1));
  FreeLanguageModule(second);
  EXPECT_EQ(nullptr, CurrentResourceModule());
  EXPECT_EQ("User Name", LoadResourceString(1));
  // Releasing a module that is not current leaves the current one alone.
  SetCurrentResourceModule(language.module());
  FreeLanguageModule(nullptr);
  EXPECT_EQ(language.module(), CurrentResourceModule());
}

TEST(ResourcesTest, MissingModuleIsRefusedWithAReason) {
  SetCurrentResourceModule(nullptr);
  std::string error;
  EXPECT_EQ(nullptr, LoadLanguageModule("no-such-wendrel-language-module.xyz", &error));
  EXPECT_NE(std::string::npos, error.find("no-such-wendrel-language-module.xyz")) << error;
  EXPECT_EQ(nullptr, LoadLanguageModule("no-such-wendrel-language-module.xyz", nullptr));
  EXPECT_EQ(nullptr, CurrentResourceModule());
  EXPECT_NE(nullptr, OwnModule());
  EXPECT_EQ(OwnModule(), OwnModule());
}

#ifndef _WIN32
// The native language-module file format. Loads `contents` as a module;
// returns the error text, "" on success.
std::string Load(const std::string& contents, ResourceModule* module) {
  const std::string path = testing::WriteLanguageFile("format", contents);
  std::string error;
  *module = LoadLanguageModule(path, &error);
  RemoveFile(path);
  return error;
}

TEST(LanguageFileTest, AcceptsCommentsCrlfBomAndEscapes) {
  ResourceModule module = nullptr;
  const std::string error = Load(
      "\xEF\xBB\xBF# comment\r\n"
      "\r\n"
      "1\tone\\ttab\\nline \\\\ back\r\n"
      "00021\tprefix: \n"
      "22\t\n"
      "65535\tlast",
      &module);
  ASSERT_NE(nullptr, module) << error;
  SetCurrentResourceModule(module);
  EXPECT_EQ("one\ttab\nline \\ back", LoadResourceString(1));
  EXPECT_EQ("prefix: ", LoadResourceString(21));
  EXPECT_EQ("", LoadResourceString(22));
  EXPECT_EQ("last", LoadResourceString(65535));
  FreeLanguageModule(module);
  EXPECT_EQ("User Name", LoadResourceString(1));
}

TEST(LanguageFileTest, RefusesBrokenFilesWithTheLine) {
  struct Case {
    const char* contents;
    const char* reason;
  } cases[] = {
      {"1\tgood\n2 no tab\n", "line 2"},
      {"\tno id\n", "line 1"},
      {"x1\ttext\n", "decimal"},
      {"65536\ttext\n", "65535"},
      {"1\ta\\qb\n", "backslash"},
      {"1\tends in backslash\\\n", "backslash"},
      {"1\tone\n1\tagain\n", "twice"},
      {"1\tbad \xC3\x28 utf-8\n", "UTF-8"},
  };
  for (const Case& c : cases) {
    SetCurrentResourceModule(nullptr);
    ResourceModule module = nullptr;
    const std::string error = Load(c.contents, &module);
    EXPECT_EQ(nullptr, module) << c.contents;
    EXPECT_NE(std::string::npos, error.find(c.reason)) << c.contents << " -> " << error;
    EXPECT_NE(std::string::npos, error.find("wendrel-format")) << error;
    EXPECT_EQ(nullptr, CurrentResourceModule());
  }
}

TEST(LanguageFileTest, TextsComeOutInTheAnsiCodePage) {
  if (AnsiCodePageName() != "WINDOWS-1252") GTEST_SKIP() << AnsiCodePageName();
  ResourceModule module = nullptr;
  const std::string error = Load("1\tGr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xE6\x97\xA5\n", &module);
  ASSERT_NE(nullptr, module) << error;
  SetCurrentResourceModule(module);
  EXPECT_EQ("Gr\xFC\xDF" "e \x80 ?", LoadResourceString(1));
  FreeLanguageModule(module);
}
#endif  // !_WIN32

std::vector<std::string> Split(const std::string& dn, bool notypes) {
  std::vector<std::string> rdns;
  EXPECT_TRUE(ExplodeDn(dn, notypes, &rdns)) << dn;
  return rdns;
}

using List = std::vector<std::string>;

TEST(LdapDnTest, ValuesAreUnescapedAndTypedFormsKeepOnlyNeededEscapes) {
  EXPECT_EQ(Split("cn=jdoe,ou=sales,o=corp", true), (List{"jdoe", "sales", "corp"}));
  EXPECT_EQ(Split("cn=jdoe,ou=sales,o=corp", false), (List{"cn=jdoe", "ou=sales", "o=corp"}));
  // Hex pairs become bytes (here UTF-8), escaped specials become themselves.
  EXPECT_EQ(Split("cn=Zo\\C3\\AB,ou=Doe\\, J\\+K,o=A", true),
            (List{"Zo\xC3\xAB", "Doe, J+K", "A"}));
  EXPECT_EQ(Split("cn=Zo\\C3\\AB,ou=Doe\\2C J,o=A", false),
            (List{"cn=Zo\xC3\xAB", "ou=Doe\\, J", "o=A"}));
  // Multi-valued RDNs, spaces around separators, old-style quotes and ';'.
  EXPECT_EQ(Split(" cn = a + sn=b , o=\"x, y\" ; c=de ", true), (List{"a+b", "x, y", "de"}));
  EXPECT_EQ(Split("cn=a+sn=b,o=\"x, y\"", false), (List{"cn=a+sn=b", "o=x\\, y"}));
  // Escaped edge spaces and a leading '#' survive; BER values stay as written.
  EXPECT_EQ(Split("cn=\\ a\\ ,cn=\\#1,cn=#04024869", false),
            (List{"cn=\\ a\\ ", "cn=\\#1", "cn=#04024869"}));
  EXPECT_EQ(Split("", true), List{});
}

// One pass gives what the two splits give, failures included.
TEST(LdapDnTest, BothWaysAtOnceEqualsEachSplit) {
  for (const char* dn : {"cn=jdoe,ou=sales,o=corp", "cn=Zo\\C3\\AB,ou=Doe\\, J\\+K,o=A",
                         " cn = a + sn=b , o=\"x, y\" ; c=de ", "cn=\\ a\\ ,cn=#04024869", "",
                         "cn=a,", "cn=a=b"}) {
    std::vector<std::string> values{"old"}, typed{"old"}, expect_values, expect_typed;
    const bool ok = ExplodeDn(dn, true, &expect_values);
    EXPECT_EQ(ok, ExplodeDn(dn, false, &expect_typed)) << dn;
    EXPECT_EQ(ok, ExplodeDnBothWays(dn, &values, &typed)) << dn;
    EXPECT_EQ(expect_values, values) << dn;
    EXPECT_EQ(expect_typed, typed) << dn;
  }
}

TEST(LdapDnTest, RejectsWhatIsNotADn) {
  std::vector<std::string> rdns{"left over"};
  for (const char* bad : {"no dn here", "cn=a,", "=a", "cn=a\\", "cn=\"open", "cn=a=b",
                          "cn=#123", ",o=a"}) {
    EXPECT_FALSE(ExplodeDn(bad, true, &rdns)) << bad;
    EXPECT_TRUE(rdns.empty()) << bad;
  }
}

}  // namespace
}  // namespace platform
}  // namespace wendrel
