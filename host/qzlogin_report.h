// What one qzlogin run observed, and its two renderings: the JSON object of
// the tool's contract and a human-readable summary. Texts are held as the
// login host has them (ANSI code page) and converted to UTF-8 when printed.

#ifndef WENDREL_HOST_QZLOGIN_REPORT_H_
#define WENDREL_HOST_QZLOGIN_REPORT_H_

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "host/qzlogin_ui.h"

namespace wendrel {
namespace qzlogin {

struct EventSeen {
  uint32_t code;
  int32_t result;
  bool chained;  // the host's own handler ran during the call
};

struct Report {
  std::string extension;  // UTF-8
  bool handshake_called = false;
  int32_t handshake_result = 0;
  std::vector<EventSeen> events;
  // The record's texts, ANSI code page.
  std::string tree, user, context, field24;
  uint32_t calling_module = 0;
  std::vector<uint32_t> notifications;
  uint32_t initial_conn_calls = 0;
  std::vector<MessageBoxSeen> message_boxes;
  std::vector<DialogSeen> dialogs;
};

void PrintJson(const Report& report, std::ostream* out);
void PrintHuman(const Report& report, std::ostream* out);

}  // namespace qzlogin
}  // namespace wendrel

#endif  // WENDREL_HOST_QZLOGIN_REPORT_H_
