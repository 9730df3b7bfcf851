// The event log port on Windows: one event through RegisterEventSourceW and
// ReportEventW under kEventSourceName. The texts are not written here: the
// Event Viewer renders the id with wendrel.dll's message table (the package
// registers the DLL as the source's EventMessageFile) and the insertion
// strings given below.
//
// The source is registered for each event and deregistered right after.
// Events are rare (flood control admits one per hour and kind), so the cost
// does not matter, and no handle outlives the call: the login host loads and
// unloads the extension, and a handle kept for the process would have to be
// closed at unload, under the loader lock, where calls into other DLLs are
// unsafe.

#include <windows.h>

#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/event_log.h"
#include "platform/trace.h"

namespace wendrel {
namespace platform {
namespace {

// The severity windmc puts in the top two bits of a message id: the id
// ReportEventW is given must be the message table's full id, or the Event
// Viewer finds no text for it. The facility is 0 and the customer bit clear,
// so the low 16 bits are the id of event_messages.def.
DWORD MessageId(EventId id, EventLevel level) {
  DWORD severity = 0x3;  // error
  if (level == EventLevel::kWarning) severity = 0x2;
  if (level == EventLevel::kInformation) severity = 0x1;
  return (severity << 30) | (static_cast<DWORD>(id) & 0xFFFF);
}

WORD EventType(EventLevel level) {
  switch (level) {
    case EventLevel::kError:
      return EVENTLOG_ERROR_TYPE;
    case EventLevel::kWarning:
      return EVENTLOG_WARNING_TYPE;
    case EventLevel::kInformation:
      return EVENTLOG_INFORMATION_TYPE;
  }
  return EVENTLOG_ERROR_TYPE;
}

// ReportEventW refuses an insertion string longer than this.
constexpr size_t kMaxInsertionUnits = 31839;

class EventSource {
 public:
  EventSource() {
    const std::u16string name = AnsiToUtf16(kEventSourceName);
    handle_ = RegisterEventSourceW(nullptr, reinterpret_cast<const wchar_t*>(name.c_str()));
  }
  ~EventSource() {
    if (handle_ != nullptr) DeregisterEventSource(handle_);
  }
  EventSource(const EventSource&) = delete;
  EventSource& operator=(const EventSource&) = delete;

  HANDLE handle() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace

void WriteEventToSystemLog(EventId id, EventLevel level, const std::vector<std::string>& strings) {
  std::vector<std::u16string> wide;
  wide.reserve(strings.size());
  for (const std::string& s : strings) {
    wide.emplace_back(TruncateUtf16(AnsiToUtf16(s), kMaxInsertionUnits));
  }
  std::vector<LPCWSTR> pointers;
  pointers.reserve(wide.size());
  for (const std::u16string& w : wide) {
    pointers.push_back(reinterpret_cast<LPCWSTR>(w.c_str()));
  }

  EventSource source;
  if (source.handle() == nullptr) {
    Trace("event %u dropped: RegisterEventSourceW failed (%lu)", static_cast<unsigned>(id),
          GetLastError());
    return;
  }
  if (!ReportEventW(source.handle(), EventType(level), 0, MessageId(id, level), nullptr,
                    static_cast<WORD>(pointers.size()), 0,
                    pointers.empty() ? nullptr : pointers.data(), nullptr)) {
    Trace("event %u dropped: ReportEventW failed (%lu)", static_cast<unsigned>(id), GetLastError());
  }
}

}  // namespace platform
}  // namespace wendrel
