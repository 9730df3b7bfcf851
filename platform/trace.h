// The trace port: the extension's diagnostic trace, off in normal operation.
//
// A trace line is "[Wendrel-<thread id>-<tick count>] " (both in upper-case
// hexadecimal), then the message, then a newline when the message does not end
// in one; at most 1024 bytes per line, longer lines are cut. On Windows lines go
// to OutputDebugStringA; natively to standard error when $WENDREL_TRACE is set.

#ifndef WENDREL_PLATFORM_TRACE_H_
#define WENDREL_PLATFORM_TRACE_H_

#include <cstddef>
#include <string>

namespace wendrel {
namespace platform {

// printf-style.
void Trace(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Formats one trace line exactly as Trace writes it (exposed for tests).
std::string FormatTraceLine(unsigned long thread_id, unsigned long tick_count,
                            const std::string& message);

// Largest trace line, terminator excluded.
constexpr size_t kMaxTraceLine = 1023;

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_TRACE_H_
