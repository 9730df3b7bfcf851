// The UI port natively: there is no desktop, so the box is played on the
// terminal when a person can answer (standard input is a terminal), and is
// answered without one otherwise: OK, and No for a question, the answer that
// never lets an unattended login go further than it was told to.

#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/ui_default.h"

namespace wendrel {
namespace platform {
namespace {

bool IsQuestion(uint32_t style) { return (style & 0xF) == kMbYesNo; }

// One line from standard input without its newline; false at end of input.
bool ReadLine(std::string* line) {
  line->clear();
  int c;
  while ((c = std::fgetc(stdin)) != EOF) {
    if (c == '\n') return true;
    line->push_back(static_cast<char>(c));
  }
  return !line->empty();
}

class TerminalMessageBoxPresenter : public MessageBoxPresenter {
 public:
  int Show(const std::string& caption, const std::string& text, uint32_t style) override {
    const bool question = IsQuestion(style);
    if (!isatty(STDIN_FILENO)) return question ? kIdNo : kIdOk;
    // Standard error, so that a host printing a report on standard output
    // keeps it clean.
    std::fprintf(stderr, "\n[%s]\n%s\n", caption.c_str(), text.c_str());
    if (!question) {
      std::fprintf(stderr, "(press Enter) ");
      std::fflush(stderr);
      std::string ignored;
      ReadLine(&ignored);
      return kIdOk;
    }
    for (;;) {
      std::fprintf(stderr, "[Y]es/[N]o? ");
      std::fflush(stderr);
      std::string answer;
      if (!ReadLine(&answer)) return kIdNo;  // the terminal went away
      if (answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes") return kIdYes;
      if (answer == "n" || answer == "N" || answer == "no" || answer == "No") return kIdNo;
    }
  }
};

}  // namespace

MessageBoxPresenter& DefaultMessageBoxPresenter() {
  // Never destroyed: a box may still be asked for while static objects of
  // the library are being torn down.
  static TerminalMessageBoxPresenter* presenter = new TerminalMessageBoxPresenter;
  return *presenter;
}

}  // namespace platform
}  // namespace wendrel
