// Cursor port: the hourglass the login prompt shows while a search runs.
// On Windows SetCursor(LoadCursor(NULL, IDC_WAIT)); natively there is no
// pointer to change, so both calls do nothing and hand back null.

#ifndef WENDREL_PLATFORM_CURSOR_H_
#define WENDREL_PLATFORM_CURSOR_H_

namespace wendrel {
namespace platform {

using CursorHandle = void*;

constexpr int kIdcWait = 32514;

// Shows the system wait cursor and returns the cursor shown before.
CursorHandle ShowWaitCursor();
// Shows `cursor` again (from ShowWaitCursor).
void RestoreCursor(CursorHandle cursor);

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_CURSOR_H_
