#include "platform/ui_dialog_automation.h"

#include <utility>

namespace wendrel {
namespace platform {
namespace {

DialogScript& Script() {
  static DialogScript* script = new DialogScript;  // outlives static teardown
  return *script;
}

}  // namespace

void SetDialogAutomation(DialogScript script) { Script() = std::move(script); }

const DialogScript* CurrentDialogAutomation() { return Script() ? &Script() : nullptr; }

}  // namespace platform
}  // namespace wendrel
