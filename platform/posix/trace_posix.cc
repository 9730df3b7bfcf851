// The trace port on POSIX systems: standard error, only while $WENDREL_TRACE
// is set to a non-empty value (checked at each call, so a running process can
// be traced from the moment the variable is set).

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/trace.h"

namespace wendrel {
namespace platform {
namespace {

// GetTickCount's counterpart: milliseconds of the monotonic clock, wrapping at
// 32 bits like the Windows value.
unsigned long TickCount() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  const unsigned long long ms =
      static_cast<unsigned long long>(now.tv_sec) * 1000u + now.tv_nsec / 1000000;
  return static_cast<unsigned long>(ms & 0xFFFFFFFFu);
}

unsigned long ThreadId() { return static_cast<unsigned long>(syscall(SYS_gettid)); }

}  // namespace

void Trace(const char* format, ...) {
  const char* enabled = std::getenv("WENDREL_TRACE");
  if (enabled == nullptr || *enabled == '\0') return;
  char message[kMaxTraceLine + 1];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof(message), format, args);
  va_end(args);
  const std::string line = FormatTraceLine(ThreadId(), TickCount(), message);
  // One write per line (short lines go out whole), so lines of several
  // threads do not interleave; a partial write is finished, never dropped.
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = write(STDERR_FILENO, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

}  // namespace platform
}  // namespace wendrel
