// The events as the Event Viewer shows them: every id of event_messages.def
// rendered from wendrel.dll's message table with FormatMessageW, against the
// text the code renders and the events table of the administrator's guide.

#include <windows.h>

#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/codepage.h"
#include "platform/event_log.h"

namespace wendrel {
namespace {

using platform::EventId;
using platform::EventLevel;

constexpr EventId kIds[] = {
#define WENDREL_EVENT(id, level, name, text) EventId::k##name,
#include "resources/event_messages.def"
#undef WENDREL_EVENT
};

// Insertion string n is "<n>": a text that swaps two shows it.
const std::vector<std::string> kStrings = {"<1>", "<2>", "<3>", "<4>", "<5>",
                                           "<6>", "<7>", "<8>", "<9>"};

// Each event by id, as "<level>: <text>".
using Rendered = std::map<unsigned, std::string>;

Rendered FromMessageTable() {
  Rendered rendered;
  HMODULE dll = LoadLibraryExA(WENDREL_EXTENSION_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  std::vector<std::u16string> wide;
  for (const std::string& s : kStrings) wide.push_back(platform::AnsiToUtf16(s));
  std::vector<DWORD_PTR> arguments;
  for (const std::u16string& w : wide) arguments.push_back(reinterpret_cast<DWORD_PTR>(w.data()));
  for (EventId id : kIds) {
    // The message id carries the level in its top two bits.
    const EventLevel level = platform::LevelOf(id);
    const DWORD severity = level == EventLevel::kError ? 3 : level == EventLevel::kWarning ? 2 : 1;
    wchar_t text[2048];
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, dll,
                                   (severity << 30) | static_cast<DWORD>(id),
                                   MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text, 2048,
                                   reinterpret_cast<va_list*>(arguments.data()));
    rendered[static_cast<unsigned>(id)] =
        std::string(platform::LevelName(level)) + ": " +
        (n == 0 ? "(not found, error " + std::to_string(GetLastError()) + ")"
                : platform::Utf16ToUtf8(std::u16string(reinterpret_cast<char16_t*>(text), n)));
  }
  if (dll != nullptr) FreeLibrary(dll);
  return rendered;
}

Rendered FromCatalogue() {
  Rendered rendered;
  for (EventId id : kIds) {
    rendered[static_cast<unsigned>(id)] = std::string(platform::LevelName(platform::LevelOf(id))) +
                                          ": " + platform::RenderEvent(id, kStrings);
  }
  return rendered;
}

// The guide's rows "| id | level | text | ...", the id and text possibly in
// backquotes.
Rendered FromGuide() {
  const std::regex row("^\\|\\s*`?(\\d{4})`?\\s*\\|\\s*(\\w+)\\s*\\|\\s*`?([^|`]*?)`?\\s*\\|.*");
  Rendered rendered;
  std::ifstream guide(WENDREL_SOURCE_DIR "/docs/administration.md");
  std::smatch cells;
  for (std::string line; std::getline(guide, line);) {
    if (!std::regex_match(line, cells, row)) continue;
    rendered[std::stoul(cells[1])] =
        cells[2].str() + ": " + std::regex_replace(cells[3].str(), std::regex("%([1-9])"), "<$1>");
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
