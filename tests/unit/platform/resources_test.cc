#include "platform/resources.h"

#include <cstring>
#include <string>

#include "gtest/gtest.h"
#include "platform/codepage.h"
#include "platform/environment.h"
#include "tests/unit/support/test_language.h"

namespace wendrel {
namespace platform {
namespace {

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
// The native language-module file format: what it accepts and how it refuses
// a broken file.
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
#endif  // !_WIN32

}  // namespace
}  // namespace platform
}  // namespace wendrel
