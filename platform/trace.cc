#include "platform/trace.h"

#include <cstdio>

namespace wendrel {
namespace platform {

std::string FormatTraceLine(unsigned long thread_id, unsigned long tick_count,
                            const std::string& message) {
  char prefix[64];
  std::snprintf(prefix, sizeof(prefix), "[Wendrel-%lX-%lX] ", thread_id, tick_count);
  std::string line = prefix;
  line += message;
  if (line.empty() || line.back() != '\n') line += '\n';
  if (line.size() > kMaxTraceLine) {
    // Cut to the line limit but keep the line a line.
    line.resize(kMaxTraceLine);
    line.back() = '\n';
  }
  return line;
}

}  // namespace platform
}  // namespace wendrel
