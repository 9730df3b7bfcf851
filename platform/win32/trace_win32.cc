// The trace port on Windows: the debugger output, as OutputDebugStringA
// writes it (nothing is seen unless a debugger or a monitor listens).

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/trace.h"

namespace wendrel {
namespace platform {

void Trace(const char* format, ...) {
  char message[kMaxTraceLine + 1];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof(message), format, args);
  va_end(args);
  const std::string line = FormatTraceLine(GetCurrentThreadId(), GetTickCount(), message);
  OutputDebugStringA(line.c_str());
}

}  // namespace platform
}  // namespace wendrel
