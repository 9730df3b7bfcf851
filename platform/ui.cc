#include "platform/ui.h"

#include <atomic>

#include "platform/ui_default.h"

namespace wendrel {
namespace platform {
namespace {

// The extension sets no caption of its own on any box, so the title is the
// application's: the extension's module name. Both builds show the same one,
// whatever the file is called on disk (wendrel.dll, libwendrel.so).
constexpr char kCaption[] = "wendrel";

// Installed by a host or a test on its own thread before boxes can appear;
// atomic so that a presenter swapped while a worker thread loads texts is
// never read torn.
std::atomic<MessageBoxPresenter*> g_presenter{nullptr};

}  // namespace

MessageBoxPresenter* SetMessageBoxPresenter(MessageBoxPresenter* presenter) {
  return g_presenter.exchange(presenter);
}

int ShowMessageBox(const std::string& text, uint32_t style) {
  MessageBoxPresenter* presenter = g_presenter.load();
  if (presenter == nullptr) presenter = &DefaultMessageBoxPresenter();
  return presenter->Show(kCaption, text, style);
}

}  // namespace platform
}  // namespace wendrel
