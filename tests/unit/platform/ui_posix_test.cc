// The native default presenter, with nobody at a terminal: boxes are answered
// without a person, and a question is always declined.

#include <cstdio>

#include "gtest/gtest.h"
#include "platform/ui.h"

namespace wendrel {
namespace platform {
namespace {

TEST(UiPosixTest, WithoutTerminalOkBoxesAreOkAndQuestionsAreNo) {
  // Standard input from a file is never a terminal, whatever ctest inherited.
  ASSERT_NE(nullptr, std::freopen("/dev/null", "r", stdin));
  MessageBoxPresenter* before = SetMessageBoxPresenter(nullptr);
  EXPECT_EQ(kIdOk, ShowMessageBox("failed", kMbOk | kMbIconHand));
  EXPECT_EQ(kIdNo, ShowMessageBox("go on?", kMbYesNo | kMbIconHand));
  SetMessageBoxPresenter(before);
}

}  // namespace
}  // namespace platform
}  // namespace wendrel
