// The owner the application framework gives a modal window that is shown
// without a parent (its application message box, a dialog constructed with
// no parent window): the calling thread's active window, taken up to its
// top-level ancestor, since a popup cannot be owned by a child window. The
// system disables that owner while the box or dialog is up, so the window
// behind it (the login prompt) cannot start anything else meanwhile. Null
// when the thread has no active window; the box is then owned by none.

#ifndef WENDREL_PLATFORM_WIN32_MODAL_OWNER_WIN32_H_
#define WENDREL_PLATFORM_WIN32_MODAL_OWNER_WIN32_H_

#include <windows.h>

namespace wendrel {
namespace platform {

HWND FrameworkModalOwner();

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_WIN32_MODAL_OWNER_WIN32_H_
