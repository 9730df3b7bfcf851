// The platform's own message-box presenter, supplied by each backend
// (posix/ui_posix.cc, win32/ui_win32.cc) and used by ShowMessageBox whenever
// no host or test has installed one. Internal to the UI port.

#ifndef WENDREL_PLATFORM_UI_DEFAULT_H_
#define WENDREL_PLATFORM_UI_DEFAULT_H_

#include "platform/ui.h"

namespace wendrel {
namespace platform {

// A process-wide object that lives until the process ends.
MessageBoxPresenter& DefaultMessageBoxPresenter();

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_UI_DEFAULT_H_
