// The events as an administrator's Event Viewer shows them: every id of
// event_messages.def rendered from wendrel.dll's message table with
// FormatMessageW, as the Event Viewer does with the source's message file,
// against the text the code renders and the table of the administrator's
// guide. The three are made from one list or by hand, and must agree.

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/codepage.h"
#include "platform/event_log.h"

namespace wendrel {
namespace {

using platform::EventId;
using platform::EventLevel;

struct Event {
  EventId id;
  const char* text;
};
constexpr Event kEvents[] = {
#define WENDREL_EVENT(id, level, name, text) {EventId::k##name, text},
#include "resources/event_messages.def"
#undef WENDREL_EVENT
};

// Distinct insertion strings, so that a text that swaps two shows it.
const std::vector<std::string> kStrings = {"<1>", "<2>", "<3>", "<4>", "<5>",
                                           "<6>", "<7>", "<8>", "<9>"};

// Each event by id, as "<level>: <text>".
using Rendered = std::map<uint32_t, std::string>;

std::string Line(EventLevel level, const std::string& text) {
  return std::string(platform::LevelName(level)) + ": " + text;
}

// The message table's id carries the level in its top two bits, as the
// extension reports it.
DWORD MessageId(EventId id) {
  const EventLevel level = platform::LevelOf(id);
  const DWORD severity =
      level == EventLevel::kError ? 3 : level == EventLevel::kWarning ? 2 : 1;
  return (severity << 30) | static_cast<DWORD>(id);
}

Rendered FromMessageTable() {
  Rendered rendered;
  HMODULE dll = LoadLibraryExA(WENDREL_EXTENSION_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (dll == nullptr) return rendered;
  std::vector<std::u16string> wide;
  for (const std::string& s : kStrings) wide.push_back(platform::AnsiToUtf16(s));
  std::vector<DWORD_PTR> arguments;
  for (const std::u16string& w : wide) arguments.push_back(reinterpret_cast<DWORD_PTR>(w.c_str()));
  for (const Event& event : kEvents) {
    wchar_t text[2048];
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                   dll, MessageId(event.id), MAKELANGID(LANG_ENGLISH,
                                                                        SUBLANG_ENGLISH_US),
                                   text, sizeof text / sizeof text[0],
                                   reinterpret_cast<va_list*>(arguments.data()));
    rendered[static_cast<uint32_t>(event.id)] =
        n == 0 ? "(not found: " + std::to_string(GetLastError()) + ")"
               : Line(platform::LevelOf(event.id),
                      platform::Utf16ToUtf8(std::u16string(reinterpret_cast<char16_t*>(text), n)));
  }
  FreeLibrary(dll);
  return rendered;
}

Rendered FromCatalogue() {
  Rendered rendered;
  for (const Event& event : kEvents) {
    rendered[static_cast<uint32_t>(event.id)] =
        Line(platform::LevelOf(event.id), platform::RenderEvent(event.id, kStrings));
  }
  return rendered;
}

std::string Trim(std::string text) {
  const size_t first = text.find_first_not_of(" \t`");
  const size_t last = text.find_last_not_of(" \t`");
  return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

// The rows "| id | level | text | ..." of the guide's events table, with
// %1... replaced as FormatMessage replaces them.
Rendered FromGuide() {
  Rendered rendered;
  std::ifstream guide(WENDREL_SOURCE_DIR "/docs/administration.md");
  std::string row;
  while (std::getline(guide, row)) {
    std::vector<std::string> cells;
    std::istringstream split(row);
    for (std::string cell; std::getline(split, cell, '|');) cells.push_back(Trim(cell));
    if (cells.size() < 4 || !cells[0].empty() || cells[1].empty() ||
        !std::all_of(cells[1].begin(), cells[1].end(), ::isdigit)) {
      continue;
    }
    std::string text;
    for (size_t i = 0; i < cells[3].size(); ++i) {
      const char c = cells[3][i];
      if (c == '%' && i + 1 < cells[3].size() && cells[3][i + 1] >= '1' &&
          cells[3][i + 1] <= '9') {
        text += kStrings[static_cast<size_t>(cells[3][++i] - '1')];
      } else {
        text += c;
      }
    }
    rendered[static_cast<uint32_t>(std::stoul(cells[1]))] = cells[2] + ": " + text;
  }
  return rendered;
}

TEST(EventMessagesTest, MessageTableRendersEveryEventAsTheCodeDoes) {
  EXPECT_EQ(FromCatalogue(), FromMessageTable());
}

TEST(EventMessagesTest, GuideTableMatchesTheMessageTable) {
  EXPECT_EQ(FromMessageTable(), FromGuide());
}

}  // namespace
}  // namespace wendrel
