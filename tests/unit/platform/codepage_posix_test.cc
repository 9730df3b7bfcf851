// A double-byte ANSI code page, chosen through $WENDREL_ACP. The code page is
// fixed at its first use in a process, so this runs only where it comes
// first: CTest runs every test case in a process of its own.

#include <cstring>
#include <string>

#include "gtest/gtest.h"
#include "platform/codepage.h"
#include "platform/environment.h"
#include "platform/resources.h"
#include "tests/unit/support/test_language.h"

namespace wendrel {
namespace platform {
namespace {

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

}  // namespace
}  // namespace platform
}  // namespace wendrel
