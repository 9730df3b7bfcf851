#include "platform/ui.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace wendrel {
namespace platform {
namespace {

class RecordingPresenter : public MessageBoxPresenter {
 public:
  explicit RecordingPresenter(int answer) : answer_(answer) {}
  int Show(const std::string& caption, const std::string& text, uint32_t style) override {
    captions.push_back(caption);
    texts.push_back(text);
    styles.push_back(style);
    return answer_;
  }
  std::vector<std::string> captions;
  std::vector<std::string> texts;
  std::vector<uint32_t> styles;

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

  ASSERT_EQ(1u, first.texts.size());
  EXPECT_EQ("Continue?", first.texts[0]);
  EXPECT_EQ(0x14u, first.styles[0]);
  EXPECT_EQ("wendrel", first.captions[0]);
  ASSERT_EQ(1u, second.texts.size());
  EXPECT_EQ(0x10u, second.styles[0]);
}

}  // namespace
}  // namespace platform
}  // namespace wendrel
