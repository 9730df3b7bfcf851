// Tree names as the connection service pads them, and the copies into the
// caller's buffer.

#include "directory/tree_name.h"

#include <cstring>
#include <string>

#include "gtest/gtest.h"

namespace wendrel {
namespace {

std::string Trimmed(std::string text) {
  char buffer[kTreeInfoLength] = {};
  std::memcpy(buffer, text.c_str(), std::min(text.size() + 1, sizeof(buffer)));
  RemoveTrailingUnderscores(buffer, sizeof(buffer));
  return std::string(buffer, strnlen(buffer, sizeof(buffer)));
}

TEST(RemoveTrailingUnderscores, RemovesOnlyThePadding) {
  EXPECT_EQ(Trimmed("ACME" + std::string(28, '_')), "ACME");
  EXPECT_EQ(Trimmed("MY_TREE__"), "MY_TREE");
  EXPECT_EQ(Trimmed(std::string(32, '_')), "");
  EXPECT_EQ(Trimmed("_"), "");
  EXPECT_EQ(Trimmed(""), "");
  EXPECT_EQ(Trimmed("_LEADING"), "_LEADING");
  EXPECT_EQ(Trimmed(std::string(32, 'X')), std::string(32, 'X'));
}

TEST(RemoveTrailingUnderscores, StaysInsideAnUnterminatedBuffer) {
  // A full buffer with no terminator: the walk stops at its end and trims
  // from the last character it may stand on, writing nothing beyond.
  char guarded[kTreeInfoLength + 1];
  std::memset(guarded, '_', sizeof(guarded));
  guarded[0] = 'T';
  guarded[kTreeInfoLength] = '#';
  RemoveTrailingUnderscores(guarded, kTreeInfoLength);
  EXPECT_STREQ(std::string(guarded, 1).c_str(), "T");
  EXPECT_EQ(guarded[1], '\0');
  EXPECT_EQ(guarded[kTreeInfoLength], '#');

  // More than 33 characters before the terminator: trimming starts from
  // the character reached after 33 steps.
  char long_text[40];
  std::memset(long_text, 'A', sizeof(long_text));
  std::memset(long_text + 30, '_', 9);
  long_text[39] = '\0';
  RemoveTrailingUnderscores(long_text, sizeof(long_text));
  EXPECT_EQ(std::string(long_text), std::string(30, 'A'));
  EXPECT_EQ(long_text[34], '_');  // beyond the 33 steps: untouched
}

TEST(CopyTreeName, CutsToTheBufferAndAlwaysTerminates) {
  char out[8];
  std::memset(out, '#', sizeof(out));
  CopyTreeName("SHORT", out, sizeof(out));
  EXPECT_STREQ(out, "SHORT");

  char small[5];
  CopyTreeName("ABCDEFGH", small, sizeof(small));
  EXPECT_STREQ(small, "ABCD");

  char one[1] = {'#'};
  CopyTreeName("ABC", one, sizeof(one));
  EXPECT_EQ(one[0], '\0');
}

}  // namespace
}  // namespace wendrel
