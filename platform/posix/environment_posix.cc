// The environment port on POSIX systems.

#include <errno.h>
#include <stdlib.h>
#include <unistd.h>

#include "platform/environment.h"

namespace wendrel {
namespace platform {

std::string GetEnvironmentVariable(const std::string& name) {
  const char* value = getenv(name.c_str());
  return value != nullptr ? std::string(value) : std::string();
}

void SetEnvironmentVariable(const std::string& name, const std::string& value) {
  if (value.empty()) {
    unsetenv(name.c_str());
  } else {
    setenv(name.c_str(), value.c_str(), 1);
  }
}

std::string TemporaryDirectory() {
  std::string path = GetEnvironmentVariable("TMPDIR");
  if (path.empty()) path = "/tmp";
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0 || errno == ENOENT; }

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

}  // namespace platform
}  // namespace wendrel
