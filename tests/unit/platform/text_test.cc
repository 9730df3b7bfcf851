// Texts: code page conversions and the string table with language modules.

#include <cstring>
#include <vector>

#include "gtest/gtest.h"
#include "platform/codepage.h"
#include "platform/environment.h"
#include "platform/resources.h"
#include "tests/unit/support/test_language.h"

namespace wendrel {
namespace platform {
namespace {

using Texts = std::vector<std::string>;
using Units = std::vector<std::u16string>;

bool AnsiIsWindows1252() {
  const std::string name = AnsiCodePageName();
  return name == "WINDOWS-1252" || name == "1252";
}

std::u16string BigText() {
  std::u16string big;
  for (int i = 0; i < 5000; ++i) big += u"ab\u00E9\u20AC\U0001F600";
  return big;
}

TEST(CodePageTest, Utf8AndUtf16BothWaysWithOneReplacementPerBrokenSequence) {
  const std::string utf8 =
      "jsmith caf\xC3\xA9 \xE2\x82\xAC \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80";
  const std::u16string utf16 = u"jsmith caf\u00E9 \u20AC \u65E5\u672C \U0001F600";
  // An embedded zero is a character like any other.
  EXPECT_EQ((Texts{utf8, "", std::string("a\0b", 3)}),
            (Texts{Utf16ToUtf8(utf16), Utf16ToUtf8(u""), Utf16ToUtf8(std::u16string(u"a\0b", 3))}));
  const std::pair<std::string, std::u16string> cases[] = {
      {utf8, utf16}, {"", u""}, {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
      {"a\x80" "b", u"a\uFFFDb"},          // stray continuation byte
      {"\xC3", u"\uFFFD"},                 // cut at the end
      {"\xE2\x82x", u"\uFFFDx"},           // cut before an ASCII byte
      {"\xF0\x9F\x98", u"\uFFFD"},         // four-byte form cut short
      {"\xC0\xAF", u"\uFFFD\uFFFD"},       // overlong '/'
      {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},           // overlong
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},           // encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // > U+10FFFF
      {"\xFE\xFF", u"\uFFFD\uFFFD"}};
  for (const auto& c : cases) EXPECT_EQ(c.second, Utf8ToUtf16(c.first)) << c.first;
  // Lone surrogates become the replacement character in UTF-8.
  EXPECT_EQ((Texts{"a\xEF\xBF\xBD" "b", "\xEF\xBF\xBD", "\xEF\xBF\xBD"}),
            (Texts{Utf16ToUtf8(std::u16string(u"a") + char16_t(0xD800) + u"b"),
                   Utf16ToUtf8(std::u16string(1, char16_t(0xDC00))),
                   Utf16ToUtf8(std::u16string(1, char16_t(0xD83D)))}));
  EXPECT_EQ(BigText(), Utf8ToUtf16(Utf16ToUtf8(BigText())));
}

TEST(CodePageTest, Windows1252BothWaysWithQuestionMarksForWhatItLacks) {
  if (!AnsiIsWindows1252()) GTEST_SKIP() << "ANSI code page is " << AnsiCodePageName();
  const std::string ansi = "M\xFCller caf\xE9 \x80 \x9F";
  const std::u16string utf16 = u"M\u00FCller caf\u00E9 \u20AC \u0178";
  EXPECT_EQ((Units{utf16, u""}), (Units{AnsiToUtf16(ansi), AnsiToUtf16("")}));
  // No look-alikes: A-macron is not written as A, and the ideographs are
  // not dropped.
  EXPECT_EQ((Texts{ansi, std::string("a\0b", 3), "", "x?y??z", "a?b", "a?"}),
            (Texts{Utf16ToAnsi(utf16), Utf16ToAnsi(std::u16string(u"a\0b", 3)), Utf16ToAnsi(u""),
                   Utf16ToAnsi(u"x\u0100y\u65E5\u672Cz"),
                   Utf16ToAnsi(std::u16string(u"a") + char16_t(0xDC00) + u"b"),
                   Utf16ToAnsi(std::u16string(u"a") + char16_t(0xD800))}));
  const std::string emoji = Utf16ToAnsi(u"a\U0001F600b");
  EXPECT_TRUE(emoji.size() >= 3 && emoji.front() == 'a' && emoji.back() == 'b' &&
              emoji.find_first_not_of("ab?") == std::string::npos) << emoji;
  // Every byte that the code page defines comes back unchanged; the five it
  // leaves undefined never vanish (Windows maps them to C1 controls).
  std::string all;
  for (int b = 1; b < 256; ++b) {
    if (b != 0x81 && b != 0x8D && b != 0x8F && b != 0x90 && b != 0x9D) all.push_back(char(b));
  }
  EXPECT_EQ(all, Utf16ToAnsi(AnsiToUtf16(all)));
#ifdef _WIN32
  EXPECT_EQ(u"a\u0081b", AnsiToUtf16("a\x81" "b"));
#else
  EXPECT_EQ(u"a\uFFFDb", AnsiToUtf16("a\x81" "b"));
#endif
  const std::string long_ansi = Utf16ToAnsi(BigText());
  EXPECT_EQ(0u, long_ansi.rfind("ab\xE9\x80", 0));
  EXPECT_GE(long_ansi.size(), 5000u * 5);
  EXPECT_EQ(AnsiToUtf16(long_ansi), AnsiToUtf16(Utf16ToAnsi(AnsiToUtf16(long_ansi))));
  const std::vector<size_t> lengths = {0, 1, 1, 1, 1};
  EXPECT_EQ(lengths, (std::vector<size_t>{AnsiCharLength(""), AnsiCharLength("a"),
                                          AnsiCharLength(" x"), AnsiCharLength("\xE9\xE9"),
                                          AnsiCharLength("\x81\x40")}));
}

// A pair across the cut is dropped whole; one that ends at the cut stays; a
// lone high surrogate before the cut is no pair.
TEST(CodePageTest, TruncateUtf16KeepsSurrogatePairsWhole) {
  const std::u16string pair = u"\U0001F600tail";
  const struct {
    std::u16string text;
    size_t units, expected;
  } cases[] = {{std::u16string(300, u'a'), 260, 260}, {u"abc", 260, 3}, {u"abc", 0, 0},
               {std::u16string(259, u'a') + pair, 260, 259},
               {std::u16string(259, u'a') + pair, 261, 261},
               {std::u16string(258, u'a') + pair, 260, 260},
               {std::u16string(259, u'a') + char16_t(0xD800) + u"zz", 260, 260}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.text.substr(0, c.expected), TruncateUtf16(c.text, c.units)) << c.units;
  }
}

// The ASCII shortcut and the conversion through UTF-16 give the same bytes:
// at the length limit, past it, and for text that is not all ASCII.
TEST(CodePageTest, Utf8ToAnsiIsTheConversionThroughUtf16) {
  EXPECT_TRUE(AnsiKeepsAscii());  // every code page these tests run in
  for (const std::string& text :
       {std::string(), std::string("jsmith"), std::string(260, 'a'), std::string(261, 'a'),
        std::string("tab\tand\x7f"), std::string("Zo\xC3\xAB"), std::string("\xFF broken"),
        std::string(259, 'a') + "\xF0\x9F\x98\x80"}) {
    for (size_t units : {260u, 3u}) {
      EXPECT_EQ(Utf16ToAnsi(TruncateUtf16(Utf8ToUtf16(text), units)), Utf8ToAnsi(text, units))
          << text.size();
    }
  }
  EXPECT_EQ(std::string(260, 'a'), Utf8ToAnsi(std::string(300, 'a'), 260));
}

#ifndef _WIN32
// Other ANSI code pages through $WENDREL_ACP, fixed at a process's first use:
// each runs where it comes first (CTest runs each case in its own process).
#define WENDREL_USE_CODE_PAGE(name)                                                       \
  SetEnvironmentVariable("WENDREL_ACP", name);                                            \
  if (AnsiCodePageName() != name) {                                                       \
    GTEST_SKIP() << "code page already fixed as " << AnsiCodePageName() << " in this process"; \
  }

TEST(CodePageDoubleByteTest, Cp932) {
  WENDREL_USE_CODE_PAGE("CP932");
  const std::string nihongo = "\x93\xFA\x96\x7B\x8C\xEA";  // three ideographs
  // No e-acute in CP932; a lead byte without its trail.
  EXPECT_EQ((Units{u"\u65E5\u672C\u8A9E", u"a\uFFFD"}),
            (Units{AnsiToUtf16(nihongo), AnsiToUtf16("a\x93")}));
  EXPECT_EQ((Texts{nihongo, "a?b"}),
            (Texts{Utf16ToAnsi(u"\u65E5\u672C\u8A9E"), Utf16ToAnsi(u"a\u00E9b")}));
  // A lead byte before the end is one byte; half-width katakana is one.
  EXPECT_EQ((std::vector<size_t>{2, 2, 1, 1, 1, 0}),
            (std::vector<size_t>{AnsiCharLength("\x93\xFA"), AnsiCharLength("\x82\xA0z"),
                                 AnsiCharLength("\x93"), AnsiCharLength("\xB1"),
                                 AnsiCharLength("a"), AnsiCharLength("")}));

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
  WENDREL_USE_CODE_PAGE("UTF-7");
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

// The table as users must see it, written out so that an edit of the table
// source shows up; by id from 0 (none) to 37.
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

// Every text exactly; missing ids empty; texts cut to the buffer and
// terminated, nothing written past the buffer or into none.
TEST(ResourcesTest, OwnTableLoadsExactlyAndIsCutToTheBuffer) {
  SetCurrentResourceModule(nullptr);
  for (uint32_t id = 1; id <= 37; ++id) {
    char buffer[261];
    const size_t length = LoadResourceString(id, buffer, sizeof(buffer));
    EXPECT_EQ((Texts{kExpected[id], kExpected[id]}), (Texts{LoadResourceString(id), buffer}));
    EXPECT_EQ(std::strlen(kExpected[id]), length) << id;
  }
  SetCurrentResourceModule(OwnModule());  // the own module named is the same table
  EXPECT_EQ("User Name", LoadResourceString(1));
  SetCurrentResourceModule(nullptr);
  for (uint32_t id : {0u, 38u, 100u, 9001u, 9002u, 65535u}) {
    char buffer[16];
    std::memset(buffer, 'x', sizeof(buffer));
    EXPECT_EQ(0u, LoadResourceString(id, buffer, sizeof(buffer))) << id;
    EXPECT_EQ((Texts{"", ""}), (Texts{buffer, LoadResourceString(id)})) << id;
  }
  char buffer[12];
  std::memset(buffer, 'x', sizeof(buffer));
  EXPECT_EQ(4u, LoadResourceString(28, buffer, 5));
  EXPECT_EQ(0u, LoadResourceString(28, buffer, 0));
  EXPECT_EQ(std::string("User\0xxxxxxx", 12), std::string(buffer, 12));
  EXPECT_EQ(0u, LoadResourceString(28, nullptr, 10));
}

TEST(ResourcesTest, LanguageModuleReplacesTheTableWhileCurrent) {
  SetCurrentResourceModule(nullptr);
  {
    testing::ScopedTestLanguage language;
    ASSERT_TRUE(language.loaded()) << language.error();
    EXPECT_EQ(language.module(), CurrentResourceModule());
    // An id the module lacks is empty: the own table does not fill in.
    EXPECT_EQ((Texts{"Benutzername", "Anmeldung: ", "Nicht gefunden auf\nServern:",
                     "Zeit\tabgelaufen", "Nur im Sprachmodul", "", ""}),
              (Texts{LoadResourceString(1), LoadResourceString(21), LoadResourceString(28),
                     LoadResourceString(19), LoadResourceString(40), LoadResourceString(2),
                     LoadResourceString(37)}));
  }
  EXPECT_EQ(nullptr, CurrentResourceModule());
  EXPECT_EQ((Texts{"User Name", "User Context", ""}),
            (Texts{LoadResourceString(1), LoadResourceString(2), LoadResourceString(40)}));
}

TEST(ResourcesTest, ReleasingTheCurrentModuleFallsBackToTheOwnTable) {
  SetCurrentResourceModule(nullptr);
  testing::ScopedTestLanguage language;
  ASSERT_TRUE(language.loaded()) << language.error();
  // Another module released while current: texts come from the own table
  // again, never from freed memory.
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

  // A missing module is refused with a reason.
  EXPECT_EQ(nullptr, LoadLanguageModule("no-such-wendrel-language-module.xyz", &error));
  EXPECT_NE(std::string::npos, error.find("no-such-wendrel-language-module.xyz")) << error;
  EXPECT_EQ(nullptr, LoadLanguageModule("no-such-wendrel-language-module.xyz", nullptr));
  EXPECT_EQ(language.module(), CurrentResourceModule());
  EXPECT_NE(nullptr, OwnModule());
  EXPECT_EQ(OwnModule(), OwnModule());
}

#ifndef _WIN32
// Loads `contents` as a native language file; the error text, "" on success.
std::string Load(const std::string& contents, ResourceModule* module) {
  const std::string path = testing::WriteLanguageFile("format", contents);
  std::string error;
  *module = LoadLanguageModule(path, &error);
  RemoveFile(path);
  return error;
}

TEST(LanguageFileTest, AcceptsCommentsCrlfBomAndEscapesInTheAnsiCodePage) {
  ResourceModule module = nullptr;
  const std::string error = Load(
      "\xEF\xBB\xBF# comment\r\n\r\n1\tone\\ttab\\nline \\\\ back\r\n00021\tprefix: \n22\t\n"
      "23\tGr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xE6\x97\xA5\n65535\tlast",
      &module);
  ASSERT_NE(nullptr, module) << error;
  SetCurrentResourceModule(module);
  EXPECT_EQ((Texts{"one\ttab\nline \\ back", "prefix: ", "", "last"}),
            (Texts{LoadResourceString(1), LoadResourceString(21), LoadResourceString(22),
                   LoadResourceString(65535)}));
  if (AnsiIsWindows1252()) {
    EXPECT_EQ("Gr\xFC\xDF" "e \x80 ?", LoadResourceString(23));
  }
  FreeLanguageModule(module);
  EXPECT_EQ("User Name", LoadResourceString(1));
}

TEST(LanguageFileTest, RefusesBrokenFilesWithTheLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"1\tgood\n2 no tab\n", "line 2"}, {"\tno id\n", "line 1"}, {"x1\ttext\n", "decimal"},
      {"65536\ttext\n", "65535"}, {"1\ta\\qb\n", "backslash"},
      {"1\tends in backslash\\\n", "backslash"}, {"1\tone\n1\tagain\n", "twice"},
      {"1\tbad \xC3\x28 utf-8\n", "UTF-8"},
  };
  for (const auto& c : cases) {
    SetCurrentResourceModule(nullptr);
    ResourceModule module = nullptr;
    const std::string error = Load(c.first, &module);
    EXPECT_EQ(nullptr, module) << c.first;
    EXPECT_NE(std::string::npos, error.find(c.second)) << c.first << " -> " << error;
    EXPECT_NE(std::string::npos, error.find("wendrel-format")) << error;
    EXPECT_EQ(nullptr, CurrentResourceModule());
  }
}
#endif  // !_WIN32

}  // namespace
}  // namespace platform
}  // namespace wendrel
