// The event log port natively: the system log (syslog(3), ident "wendrel",
// facility LOG_USER), or the file $WENDREL_EVENT_LOG names, one line an
// event. The file is how tests, and an administrator who wants the events
// apart from the system log, read them.

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/codepage.h"
#include "platform/environment.h"
#include "platform/event_log.h"
#include "platform/trace.h"

namespace wendrel {
namespace platform {
namespace {

int SyslogPriority(EventLevel level) {
  switch (level) {
    case EventLevel::kError:
      return LOG_ERR;
    case EventLevel::kWarning:
      return LOG_WARNING;
    case EventLevel::kInformation:
      return LOG_INFO;
  }
  return LOG_ERR;
}

// One event is one line, in the file and in the system log: an insertion
// string comes from outside (a server's tree name, an error text) and a line
// break in it must not let a hostile server forge a second event. Line
// breaks are written as the two characters \r and \n, any other control
// character as '?'. Only the insertion strings can hold one (the catalogue's
// texts have none), and in UTF-8 no byte below 0x80 is part of a longer
// character, so the whole rendered text is treated at once.
std::string OneLine(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (const char c : utf8) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if ((c >= 0 && c < 0x20) || c == 0x7F) {
      out += '?';
    } else {
      out += c;
    }
  }
  return out;
}

// Appends `line` with one write(2): O_APPEND makes each write land whole at
// the end, so events of concurrent processes never interleave.
void AppendToFile(const std::string& path, const std::string& line) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) {
    Trace("event log: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
    return;
  }
  ssize_t written;
  do {
    written = write(fd, line.data(), line.size());
  } while (written < 0 && errno == EINTR);
  if (written != static_cast<ssize_t>(line.size())) {
    Trace("event log: cannot write %s: %s\n", path.c_str(),
          written < 0 ? std::strerror(errno) : "short write");
  }
  close(fd);
}

void WriteToSyslog(EventLevel level, const std::string& message) {
  // openlog before each event, since the process that hosts the extension
  // may have opened the system log under its own ident meanwhile.
  static std::mutex* mutex = new std::mutex();
  std::lock_guard<std::mutex> lock(*mutex);
  openlog("wendrel", LOG_PID, LOG_USER);
  syslog(SyslogPriority(level), "%s", message.c_str());
}

}  // namespace

void WriteEventToSystemLog(EventId id, EventLevel level, const std::vector<std::string>& strings) {
  // Insertion strings are ANSI like every string of the extension; the log
  // is UTF-8.
  const std::string text = OneLine(Utf16ToUtf8(AnsiToUtf16(RenderEvent(id, strings))));
  const std::string number = std::to_string(static_cast<uint32_t>(id));
  const std::string path = GetEnvironmentVariable("WENDREL_EVENT_LOG");
  if (!path.empty()) {
    AppendToFile(path, number + " " + LevelName(level) + " " + text + "\n");
  } else {
    WriteToSyslog(level, number + " " + text);
  }
}

}  // namespace platform
}  // namespace wendrel
