#include "platform/ui.h"

#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "gtest/gtest.h"

namespace wendrel {
namespace platform {
namespace {

// Records each box shown: its caption, text and style.
class RecordingPresenter : public MessageBoxPresenter {
 public:
  explicit RecordingPresenter(int answer) : answer_(answer) {}
  int Show(const std::string& caption, const std::string& text, uint32_t style) override {
    shown.emplace_back(caption, text, style);
    return answer_;
  }
  std::vector<std::tuple<std::string, std::string, uint32_t>> shown;

 private:
  int answer_;
};

TEST(UiTest, InstalledPresenterGetsEveryBoxUntilRemoved) {
  RecordingPresenter first(kIdYes);
  RecordingPresenter second(kIdNo);
  MessageBoxPresenter* before = SetMessageBoxPresenter(&first);
  EXPECT_EQ(kIdYes, ShowMessageBox("Continue?", kMbYesNo | kMbIconHand));
  EXPECT_EQ(&first, SetMessageBoxPresenter(&second));
  EXPECT_EQ(kIdNo, ShowMessageBox("Invalid scope", kMbOk | kMbIconHand));
  EXPECT_EQ(&second, SetMessageBoxPresenter(before));
  using Shown = decltype(first.shown);
  EXPECT_EQ((Shown{{"wendrel", "Continue?", 0x14u}}), first.shown);
  EXPECT_EQ((Shown{{"wendrel", "Invalid scope", 0x10u}}), second.shown);
}

#ifndef _WIN32
// The native default presenter, with nobody at a terminal: boxes are
// answered without a person, and a question is always declined.
TEST(UiTest, WithoutTerminalOkBoxesAreOkAndQuestionsAreNo) {
  // Standard input from a file is never a terminal, whatever ctest inherited.
  ASSERT_NE(nullptr, std::freopen("/dev/null", "r", stdin));
  MessageBoxPresenter* before = SetMessageBoxPresenter(nullptr);
  EXPECT_EQ(kIdOk, ShowMessageBox("failed", kMbOk | kMbIconHand));
  EXPECT_EQ(kIdNo, ShowMessageBox("go on?", kMbYesNo | kMbIconHand));
  SetMessageBoxPresenter(before);
}
#endif  // !_WIN32

}  // namespace
}  // namespace platform
}  // namespace wendrel
