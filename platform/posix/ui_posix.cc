// The UI port natively: there is no desktop, so the process that hosts the
// extension presents the box when it exports WendrelHostMessageBox (qzlogin
// does). Otherwise the box is played on the terminal when a person can answer
// (standard input is a terminal), and is answered without one: OK, and No for
// a question, the answer that never lets an unattended login go further than
// it was told to.

#include <dlfcn.h>

#include <cstdio>
#include <new>
#include <string>

#include "platform/posix/terminal.h"
#include "platform/ui_default.h"

namespace wendrel {
namespace platform {
namespace {

bool IsQuestion(uint32_t style) { return (style & 0xF) == kMbYesNo; }

// The hosting process's presenter: extern "C" int WendrelHostMessageBox(
// const char* caption, const char* text, unsigned style), returning the
// button pressed. Looked up at each box, so a host is found whenever it
// exports one; the extension carries its own copy of this code, so nothing
// installed in the host's copy could reach it otherwise.
using HostMessageBoxFn = int (*)(const char* caption, const char* text, unsigned style);

HostMessageBoxFn HostMessageBox() {
  return reinterpret_cast<HostMessageBoxFn>(dlsym(RTLD_DEFAULT, "WendrelHostMessageBox"));
}

class TerminalMessageBoxPresenter : public MessageBoxPresenter {
 public:
  int Show(const std::string& caption, const std::string& text, uint32_t style) override {
    if (HostMessageBoxFn host = HostMessageBox()) {
      return host(caption.c_str(), text.c_str(), style);
    }
    const bool question = IsQuestion(style);
    if (!StdinIsTerminal()) return question ? kIdNo : kIdOk;
    // Standard error, so that a host printing a report on standard output
    // keeps it clean.
    std::fprintf(stderr, "\n[%s]\n%s\n", caption.c_str(), text.c_str());
    if (!question) {
      std::fprintf(stderr, "(press Enter) ");
      std::fflush(stderr);
      std::string ignored;
      ReadTerminalLine(&ignored);
      return kIdOk;
    }
    for (;;) {
      std::fprintf(stderr, "[Y]es/[N]o? ");
      std::fflush(stderr);
      std::string answer;
      if (!ReadTerminalLine(&answer)) return kIdNo;  // the terminal went away
      if (answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes") return kIdYes;
      if (answer == "n" || answer == "N" || answer == "no" || answer == "No") return kIdNo;
    }
  }
};

}  // namespace

MessageBoxPresenter& DefaultMessageBoxPresenter() {
  // Never destroyed: a box may still be asked for while static objects of
  // the library are being torn down. Built in static storage rather than on
  // the heap, so that a library unloaded by its host (dlclose) leaves no
  // block behind that nothing points to.
  alignas(TerminalMessageBoxPresenter) static unsigned char storage[sizeof(
      TerminalMessageBoxPresenter)];
  static TerminalMessageBoxPresenter* presenter = new (storage) TerminalMessageBoxPresenter;
  return *presenter;
}

}  // namespace platform
}  // namespace wendrel
