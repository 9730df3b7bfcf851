// The event log port: the events an administrator collects from a fleet.
//
// On Windows an event goes to the Application log through RegisterEventSourceW
// and ReportEventW under the source kEventSourceName, whose message table is
// wendrel.dll's own (the package registers the source). Natively the same id,
// level and rendered text go to the system log (syslog(3), LOG_USER), or,
// when $WENDREL_EVENT_LOG names a file, are appended to that file instead, one
// line an event: "<id> <level> <text>\n" (the seam tests read).
//
// Flood control: the same event with the same insertion strings is written
// at most once per kEventRepeatSeconds in one process. A workstation whose
// server is down logs it once an hour, not at every login.

#ifndef WENDREL_PLATFORM_EVENT_LOG_H_
#define WENDREL_PLATFORM_EVENT_LOG_H_

#include <cstdint>
#include <string>
#include <vector>

namespace wendrel {
namespace platform {

enum class EventLevel { kError, kWarning, kInformation };

enum class EventId : uint32_t {
#define WENDREL_EVENT(id, level, name, text) k##name = id,
#include "resources/event_messages.def"
#undef WENDREL_EVENT
};

// The event source, as the package registers it under
// HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application.
constexpr char kEventSourceName[] = "Tarvos LDAP Contextless Login";

constexpr uint32_t kEventRepeatSeconds = 3600;

// Writes event `id` with its insertion strings (text in the ANSI code page,
// as every string of the extension), unless flood control holds it back.
// Never fails and never blocks on anything but the log itself: an event that
// cannot be written is dropped (and traced).
void ReportEvent(EventId id, const std::vector<std::string>& strings);

// True when event `id` whose first insertion string is `first` was written
// within the last kEventRepeatSeconds: for an event whose other strings cost
// work to learn, asked before that work is done.
bool EventWrittenRecently(EventId id, const std::string& first);

// The level and text of an id, from event_messages.def; the text with %1...
// replaced by `strings` (a missing string renders as empty).
EventLevel LevelOf(EventId id);
std::string RenderEvent(EventId id, const std::vector<std::string>& strings);

// "Error", "Warning" or "Information".
const char* LevelName(EventLevel level);

// The backend (event_log_posix.cc, event_log_win32.cc): writes one event as
// it is, without flood control. Called by ReportEvent only.
void WriteEventToSystemLog(EventId id, EventLevel level, const std::vector<std::string>& strings);

// Tests: the clock flood control reads (seconds, any origin; null restores
// the steady clock), and forgetting every event written so far.
void SetEventClockForTesting(uint64_t (*now_seconds)());
void ResetEventFloodControlForTesting();

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_EVENT_LOG_H_
