#include "platform/event_log.h"

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <utility>

namespace wendrel {
namespace platform {
namespace {

struct EventDescription {
  EventId id;
  EventLevel level;
  const char* text;
};

constexpr EventLevel kError = EventLevel::kError;
constexpr EventLevel kWarning = EventLevel::kWarning;
constexpr EventLevel kInformation = EventLevel::kInformation;

constexpr EventDescription kEvents[] = {
#define WENDREL_EVENT(id, level, name, text) {EventId::k##name, k##level, text},
#include "resources/event_messages.def"
#undef WENDREL_EVENT
};

const EventDescription* Describe(EventId id) {
  for (const EventDescription& event : kEvents) {
    if (event.id == id) return &event;
  }
  return nullptr;
}

uint64_t SteadySeconds() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

// The events written in this process, by id and insertion strings, with the
// time each was last written. Bounded: a process that sees more distinct
// events than this forgets the oldest first, so a hostile directory (every
// server name different) costs memory only up to the bound.
constexpr size_t kMaxRemembered = 256;

struct FloodControl {
  std::mutex mutex;
  uint64_t (*now)() = SteadySeconds;
  std::map<std::pair<uint32_t, std::vector<std::string>>, uint64_t> last_written;

  // True when the event is to be written now; remembers it as written.
  bool Admit(EventId id, const std::vector<std::string>& strings) {
    std::lock_guard<std::mutex> lock(mutex);
    const uint64_t t = now();
    auto key = std::make_pair(static_cast<uint32_t>(id), strings);
    auto found = last_written.find(key);
    if (found != last_written.end()) {
      if (t - found->second < kEventRepeatSeconds) return false;
      found->second = t;
      return true;
    }
    if (last_written.size() >= kMaxRemembered) {
      auto oldest = last_written.begin();
      for (auto it = last_written.begin(); it != last_written.end(); ++it) {
        if (it->second < oldest->second) oldest = it;
      }
      last_written.erase(oldest);
    }
    last_written.emplace(std::move(key), t);
    return true;
  }

  bool Recent(EventId id, const std::string& first) {
    std::lock_guard<std::mutex> lock(mutex);
    const uint64_t t = now();
    for (const auto& entry : last_written) {
      const std::vector<std::string>& strings = entry.first.second;
      if (entry.first.first == static_cast<uint32_t>(id) && !strings.empty() &&
          strings[0] == first && t - entry.second < kEventRepeatSeconds) {
        return true;
      }
    }
    return false;
  }
};

FloodControl& Flood() {
  // Never destroyed: a worker may report while the process exits.
  static FloodControl* flood = new FloodControl();
  return *flood;
}

}  // namespace

EventLevel LevelOf(EventId id) {
  const EventDescription* event = Describe(id);
  return event != nullptr ? event->level : EventLevel::kError;
}

const char* LevelName(EventLevel level) {
  switch (level) {
    case EventLevel::kError:
      return "Error";
    case EventLevel::kWarning:
      return "Warning";
    case EventLevel::kInformation:
      return "Information";
  }
  return "Error";
}

std::string RenderEvent(EventId id, const std::vector<std::string>& strings) {
  const EventDescription* event = Describe(id);
  if (event == nullptr) return std::string();
  std::string out;
  for (const char* p = event->text; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] >= '1' && p[1] <= '9') {
      const size_t index = static_cast<size_t>(p[1] - '1');
      if (index < strings.size()) out += strings[index];
      ++p;
      continue;
    }
    out += *p;
  }
  return out;
}

bool EventWrittenRecently(EventId id, const std::string& first) {
  return Flood().Recent(id, first);
}

void ReportEvent(EventId id, const std::vector<std::string>& strings) {
  if (Describe(id) == nullptr) return;
  if (!Flood().Admit(id, strings)) return;
  WriteEventToSystemLog(id, LevelOf(id), strings);
}

void SetEventClockForTesting(uint64_t (*now_seconds)()) {
  std::lock_guard<std::mutex> lock(Flood().mutex);
  Flood().now = now_seconds != nullptr ? now_seconds : SteadySeconds;
}

void ResetEventFloodControlForTesting() {
  std::lock_guard<std::mutex> lock(Flood().mutex);
  Flood().last_written.clear();
}

}  // namespace platform
}  // namespace wendrel
