// The UI port, message boxes: the application message box the extension shows
// for failures, the continue question and the missing-context notice.
//
// On Windows the default presenter is MessageBoxA on the login prompt's
// thread. Natively the process that hosts the extension decides how a box is
// answered: by default a prompt on the terminal when standard input is one,
// otherwise the box is answered without a person (OK; No for a Yes/No
// question). Hosts (qzlogin, wendrel-doctor) and tests install a presenter of
// their own to script the answers and record what was shown.

#ifndef WENDREL_PLATFORM_UI_H_
#define WENDREL_PLATFORM_UI_H_

#include <cstdint>
#include <string>

namespace wendrel {
namespace platform {

// Styles and results, with MessageBoxA's values.
constexpr uint32_t kMbOk = 0x0;
constexpr uint32_t kMbYesNo = 0x4;
constexpr uint32_t kMbIconHand = 0x10;
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

class MessageBoxPresenter {
 public:
  virtual ~MessageBoxPresenter() = default;
  // Shows `text` (ANSI code page) with `style` and returns the button pressed.
  virtual int Show(const std::string& caption, const std::string& text, uint32_t style) = 0;
};

// Installs the presenter used from now on (not owned); null restores the
// platform's default. Returns the previous one (null for the default).
MessageBoxPresenter* SetMessageBoxPresenter(MessageBoxPresenter* presenter);

// The application message box: modal, no help context. The caption is the
// extension's name.
int ShowMessageBox(const std::string& text, uint32_t style);

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_UI_H_
