// The terminal as the native UI presents boxes and lists on it: whether a
// person is there to answer, and one answer line at a time.

#ifndef WENDREL_PLATFORM_POSIX_TERMINAL_H_
#define WENDREL_PLATFORM_POSIX_TERMINAL_H_

#include <string>

namespace wendrel {
namespace platform {

// True when standard input is a terminal.
bool StdinIsTerminal();

// One line from standard input without its newline; false at end of input
// with nothing read.
bool ReadTerminalLine(std::string* line);

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_POSIX_TERMINAL_H_
