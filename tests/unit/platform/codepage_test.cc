#include "platform/codepage.h"

#include <cstring>
#include <string>

#include "gtest/gtest.h"
#include "platform/environment.h"
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

}  // namespace
}  // namespace platform
}  // namespace wendrel
