#include "host/qzlogin_report.h"

#include <cstdio>

#include "platform/codepage.h"
#include "tools/wendrel-doctor/json_writer.h"

namespace wendrel {
namespace qzlogin {
namespace {

std::string Utf8(const std::string& ansi) {
  return platform::Utf16ToUtf8(platform::AnsiToUtf16(ansi));
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

void WriteOwner(doctor::JsonWriter& json, bool owned_by_prompt, bool owner_disabled) {
  json.Key("owner");
  json.String(owned_by_prompt ? "prompt" : "none");
  json.Key("ownerDisabled");
  json.Bool(owner_disabled);
}

}  // namespace

void PrintJson(const Report& report, std::ostream* out) {
  doctor::JsonWriter json(out);
  json.BeginObject();
  json.Key("extension");
  json.String(report.extension);

  json.Key("handshake");
  json.BeginObject();
  json.Key("called");
  json.Bool(report.handshake_called);
  json.Key("result");
  if (report.handshake_called) {
    json.Int(report.handshake_result);
  } else {
    json.Null();
  }
  json.EndObject();

  json.Key("events");
  json.BeginArray();
  for (const EventSeen& event : report.events) {
    json.BeginObject();
    json.Key("code");
    json.Int(event.code);
    json.Key("result");
    json.Int(event.result);
    json.Key("chained");
    json.Bool(event.chained);
    json.EndObject();
  }
  json.EndArray();

  json.Key("record");
  json.BeginObject();
  json.Key("tree");
  json.String(Utf8(report.tree));
  json.Key("user");
  json.String(Utf8(report.user));
  json.Key("context");
  json.String(Utf8(report.context));
  json.Key("field24");
  json.String(Utf8(report.field24));
  json.Key("callingModule");
  json.Int(report.calling_module);
  json.EndObject();

  json.Key("notifications");
  json.BeginArray();
  for (uint32_t code : report.notifications) json.Int(code);
  json.EndArray();

  json.Key("initialConnCalls");
  json.Int(report.initial_conn_calls);

  json.Key("messageBoxes");
  json.BeginArray();
  for (const MessageBoxSeen& box : report.message_boxes) {
    json.BeginObject();
    json.Key("style");
    json.Int(box.style);
    json.Key("text");
    json.String(Utf8(box.text));
    WriteOwner(json, box.owned_by_prompt, box.owner_disabled);
    json.EndObject();
  }
  json.EndArray();

  json.Key("dialogs");
  json.BeginArray();
  for (const DialogSeen& dialog : report.dialogs) {
    json.BeginObject();
    json.Key("caption");
    json.String(Utf8(dialog.caption));
    json.Key("prompt");
    json.String(Utf8(dialog.prompt));
    json.Key("columns");
    json.BeginArray();
    for (const auto& column : dialog.columns) {
      json.BeginObject();
      json.Key("title");
      json.String(Utf8(column.first));
      json.Key("width");
      json.Int(column.second);
      json.EndObject();
    }
    json.EndArray();
    json.Key("rows");
    json.BeginArray();
    for (const auto& row : dialog.rows) {
      json.BeginArray();
      for (const std::string& cell : row) json.String(Utf8(cell));
      json.EndArray();
    }
    json.EndArray();
    json.Key("result");
    json.Int(dialog.result);
    WriteOwner(json, dialog.owned_by_prompt, dialog.owner_disabled);
    json.EndObject();
  }
  json.EndArray();
  json.EndObject();
  *out << '\n';
}

void PrintHuman(const Report& report, std::ostream* out) {
  std::ostream& o = *out;
  o << "extension:        " << report.extension << '\n';
  o << "handshake:        ";
  if (report.handshake_called) {
    o << "called, result " << report.handshake_result << '\n';
  } else {
    o << "not called\n";
  }
  for (const EventSeen& event : report.events) {
    std::string label = "event " + std::to_string(event.code) + ":";
    if (label.size() < 18) label.resize(18, ' ');
    o << label << "result " << event.result
      << (event.chained ? ", host handler ran" : ", no host handler") << '\n';
  }
  o << "tree:             \"" << Utf8(report.tree) << "\"\n";
  o << "user:             \"" << Utf8(report.user) << "\"\n";
  o << "context:          \"" << Utf8(report.context) << "\"\n";
  o << "field 24/28:      \"" << Utf8(report.field24) << "\"\n";
  o << "callingModule:    " << report.calling_module << " (" << Hex(report.calling_module)
    << ")\n";
  o << "notifications:    ";
  if (report.notifications.empty()) o << "none";
  for (size_t i = 0; i < report.notifications.size(); ++i) {
    o << (i > 0 ? ", " : "") << report.notifications[i];
  }
  o << '\n';
  o << "initial conn:     " << report.initial_conn_calls << " call(s)\n";
  for (const MessageBoxSeen& box : report.message_boxes) {
    o << "message box (style " << Hex(box.style) << "): " << Utf8(box.text) << '\n';
  }
  for (const DialogSeen& dialog : report.dialogs) {
    o << "dialog \"" << Utf8(dialog.caption) << "\": " << dialog.rows.size()
      << " row(s), result " << dialog.result;
    if (dialog.chosen_row >= 0) o << ", row " << dialog.chosen_row;
    o << '\n';
  }
}

}  // namespace qzlogin
}  // namespace wendrel
