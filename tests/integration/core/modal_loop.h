// The login prompt around the driver's in-process tests, for events the host
// sends while a message box is up. On Windows a real top-level window stands
// for the prompt, active while the test sends events, and the driver's boxes
// are the system's own: a CBT hook sees each box come up, and a timer message
// that the box's modal loop delivers runs the test's action there before the
// box is answered with its first button. Natively the presenter is the modal
// loop: the action runs inside the presenter's Show.

#ifndef WENDREL_TESTS_INTEGRATION_CORE_MODAL_LOOP_H_
#define WENDREL_TESTS_INTEGRATION_CORE_MODAL_LOOP_H_

#include <functional>
#include <utility>

#include "platform/ui.h"
#include "tests/integration/search/search_fixture.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace wendrel {
namespace testing {

class ModalLoopPrompt {
 public:
  // `inside` runs once, inside the modal loop of the first box shown.
  ModalLoopPrompt(RecordingPresenter& presenter, std::function<void()> inside);
  ~ModalLoopPrompt();
  ModalLoopPrompt(const ModalLoopPrompt&) = delete;
  ModalLoopPrompt& operator=(const ModalLoopPrompt&) = delete;

  int boxes_shown() const { return boxes_shown_; }
#ifdef _WIN32
  // Of the first box: whether the prompt owned it and was disabled while it
  // was up.
  bool owned_by_prompt() const { return owned_by_prompt_; }
  bool prompt_disabled() const { return prompt_disabled_; }
#endif

 private:
  RecordingPresenter& presenter_;
  std::function<void()> inside_;
  int boxes_shown_ = 0;
#ifdef _WIN32
  static ModalLoopPrompt* current_;
  static LRESULT CALLBACK CbtProc(int code, WPARAM wparam, LPARAM lparam);
  static void CALLBACK AnswerBox(HWND, UINT, UINT_PTR timer, DWORD);

  platform::MessageBoxPresenter* previous_ = nullptr;
  HWND prompt_ = nullptr;
  HHOOK hook_ = nullptr;
  HWND box_ = nullptr;  // the box waiting for its answer
  bool owned_by_prompt_ = false;
  bool prompt_disabled_ = false;
#endif
};

#ifdef _WIN32

inline ModalLoopPrompt* ModalLoopPrompt::current_ = nullptr;

inline ModalLoopPrompt::ModalLoopPrompt(RecordingPresenter& presenter,
                                        std::function<void()> inside)
    : presenter_(presenter), inside_(std::move(inside)) {
  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = DefWindowProcA;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = "WendrelTestLoginPrompt";
  RegisterClassA(&window_class);  // fails harmlessly once registered
  prompt_ = CreateWindowExA(0, window_class.lpszClassName, "Login", WS_OVERLAPPEDWINDOW, 0, 0,
                            320, 200, nullptr, nullptr, window_class.hInstance, nullptr);
  ShowWindow(prompt_, SW_SHOW);
  SetForegroundWindow(prompt_);
  SetActiveWindow(prompt_);
  // The system's boxes, not the recording presenter's.
  previous_ = platform::SetMessageBoxPresenter(nullptr);
  current_ = this;
  hook_ = SetWindowsHookExA(WH_CBT, CbtProc, nullptr, GetCurrentThreadId());
}

inline ModalLoopPrompt::~ModalLoopPrompt() {
  if (hook_ != nullptr) UnhookWindowsHookEx(hook_);
  current_ = nullptr;
  platform::SetMessageBoxPresenter(previous_);
  if (prompt_ != nullptr) DestroyWindow(prompt_);
}

inline LRESULT CALLBACK ModalLoopPrompt::CbtProc(int code, WPARAM wparam, LPARAM lparam) {
  ModalLoopPrompt* self = current_;
  if (code == HCBT_ACTIVATE && self != nullptr) {
    HWND window = reinterpret_cast<HWND>(wparam);
    char name[16] = {};
    GetClassNameA(window, name, sizeof name);
    if (lstrcmpA(name, "#32770") == 0 && window != self->box_) {
      self->box_ = window;
      // Answered from the box's own modal loop, once it runs.
      SetTimer(nullptr, 0, 0, AnswerBox);
    }
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

inline void CALLBACK ModalLoopPrompt::AnswerBox(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  ModalLoopPrompt* self = current_;
  if (self == nullptr || self->box_ == nullptr) return;
  HWND box = self->box_;
  if (++self->boxes_shown_ == 1) {
    self->owned_by_prompt_ = GetWindow(box, GW_OWNER) == self->prompt_;
    self->prompt_disabled_ = IsWindowEnabled(self->prompt_) == FALSE;
    self->inside_();
  }
  // OK, or Yes of a question: the first button either way.
  const int button = GetDlgItem(box, IDOK) != nullptr ? IDOK : IDYES;
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
}

#else

inline ModalLoopPrompt::ModalLoopPrompt(RecordingPresenter& presenter,
                                        std::function<void()> inside)
    : presenter_(presenter), inside_(std::move(inside)) {
  presenter_.on_show = [this](const ShownBox&) {
    if (++boxes_shown_ == 1) inside_();
  };
}

inline ModalLoopPrompt::~ModalLoopPrompt() { presenter_.on_show = nullptr; }

#endif

}  // namespace testing
}  // namespace wendrel

#endif  // WENDREL_TESTS_INTEGRATION_CORE_MODAL_LOOP_H_
