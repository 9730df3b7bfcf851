#include "platform/posix/terminal.h"

#include <unistd.h>

#include <cstdio>

namespace wendrel {
namespace platform {

bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

bool ReadTerminalLine(std::string* line) {
  line->clear();
  int c;
  while ((c = std::fgetc(stdin)) != EOF) {
    if (c == '\n') return true;
    line->push_back(static_cast<char>(c));
  }
  return !line->empty();
}

}  // namespace platform
}  // namespace wendrel
