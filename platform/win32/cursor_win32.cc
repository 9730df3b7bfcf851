#include <windows.h>

#include "platform/cursor.h"

namespace wendrel {
namespace platform {

CursorHandle ShowWaitCursor() {
  return SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(kIdcWait)));
}

void RestoreCursor(CursorHandle cursor) { SetCursor(static_cast<HCURSOR>(cursor)); }

}  // namespace platform
}  // namespace wendrel
