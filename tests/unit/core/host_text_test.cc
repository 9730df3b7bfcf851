// Reading and writing the text fields of the host's start-info record: the
// driver's write-back must never run past a buffer whatever its size, and
// reading must stop at the buffer's end when the host left no terminator.

#include <cstring>
#include <string>
#include <vector>

#include "core/login_driver.h"
#include "core/login_host.h"
#include "gtest/gtest.h"

namespace wendrel {
namespace {

class HostTextTest : public ::testing::Test {
 protected:
  // A record whose user field is a `size`-byte buffer inside a larger block
  // of guard bytes, so a write past it shows.
  void Attach(int32_t size) {
    block_.assign(static_cast<size_t>(size) + 16, '#');
    StoreText(record_.data(), kStartInfoUser, HostText{size, block_.data() + 8});
  }
  std::string Buffer(size_t n) const { return std::string(block_.data() + 8, n); }
  bool GuardsIntact(int32_t size) const {
    for (size_t i = 0; i < 8; ++i) {
      if (block_[i] != '#' || block_[8 + static_cast<size_t>(size) + i] != '#') return false;
    }
    return true;
  }

  std::vector<unsigned char> record_ = std::vector<unsigned char>(kStartInfoSize, 0);
  std::vector<char> block_;
};

TEST_F(HostTextTest, WritesAreCutWithATerminatorAndZeroFilled) {
  Attach(8);
  WriteHostText(record_.data(), kStartInfoUser, "abc");
  EXPECT_EQ(Buffer(8), std::string("abc\0\0\0\0\0", 8));
  EXPECT_EQ(ReadHostText(record_.data(), kStartInfoUser), "abc");

  WriteHostText(record_.data(), kStartInfoUser, "0123456789");
  EXPECT_EQ(Buffer(8), std::string("0123456\0", 8));
  EXPECT_TRUE(GuardsIntact(8));

  Attach(1);
  WriteHostText(record_.data(), kStartInfoUser, "x");
  EXPECT_EQ(Buffer(1), std::string(1, '\0'));
  EXPECT_TRUE(GuardsIntact(1));
}

TEST_F(HostTextTest, FieldsWithoutRoomAreLeftAlone) {
  Attach(0);
  WriteHostText(record_.data(), kStartInfoUser, "abc");
  EXPECT_TRUE(GuardsIntact(0));
  EXPECT_EQ(ReadHostText(record_.data(), kStartInfoUser), "");

  StoreText(record_.data(), kStartInfoUser, HostText{-5, block_.data()});
  WriteHostText(record_.data(), kStartInfoUser, "abc");
  EXPECT_EQ(ReadHostText(record_.data(), kStartInfoUser), "");

  StoreText(record_.data(), kStartInfoUser, HostText{64, nullptr});
  WriteHostText(record_.data(), kStartInfoUser, "abc");
  EXPECT_EQ(ReadHostText(record_.data(), kStartInfoUser), "");
  EXPECT_EQ(ReadHostText(nullptr, kStartInfoUser), "");
}

TEST_F(HostTextTest, AnUnterminatedBufferIsReadToItsEndOnly) {
  Attach(4);
  std::memcpy(block_.data() + 8, "wxyz", 4);
  EXPECT_EQ(ReadHostText(record_.data(), kStartInfoUser), "wxyz");
}

}  // namespace
}  // namespace wendrel
