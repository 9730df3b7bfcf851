// The native language-module file format: what it accepts and how it refuses
// a broken file.

#include <string>

#include "gtest/gtest.h"
#include "platform/codepage.h"
#include "platform/environment.h"
#include "platform/resources.h"
#include "tests/unit/support/test_language.h"

namespace wendrel {
namespace platform {
namespace {

// Loads `contents` as a module; returns the error text, or "" on success
// after checking id 1 against `text1`.
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

}  // namespace
}  // namespace platform
}  // namespace wendrel
