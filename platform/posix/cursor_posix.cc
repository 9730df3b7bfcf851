#include "platform/cursor.h"

namespace wendrel {
namespace platform {

CursorHandle ShowWaitCursor() { return nullptr; }
void RestoreCursor(CursorHandle cursor) {}

}  // namespace platform
}  // namespace wendrel
