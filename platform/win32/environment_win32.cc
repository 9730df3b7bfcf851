// The environment port on Windows.

#include <windows.h>

// windows.h maps these names to their -A/-W forms; the port's own functions
// bear the plain names.
#undef GetEnvironmentVariable
#undef SetEnvironmentVariable

#include <vector>

#include "platform/environment.h"

namespace wendrel {
namespace platform {

std::string GetEnvironmentVariable(const std::string& name) {
  std::vector<char> buffer(256);
  for (;;) {
    DWORD length = GetEnvironmentVariableA(name.c_str(), buffer.data(),
                                           static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::string();
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(length);  // length includes the terminator here
  }
}

void SetEnvironmentVariable(const std::string& name, const std::string& value) {
  SetEnvironmentVariableA(name.c_str(), value.empty() ? nullptr : value.c_str());
}

std::string TemporaryDirectory() {
  char buffer[MAX_PATH + 1];
  DWORD length = GetTempPathA(sizeof(buffer), buffer);
  if (length == 0 || length > MAX_PATH) return ".";
  std::string path(buffer, length);
  while (path.size() > 1 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  return path;
}

bool RemoveFile(const std::string& path) {
  if (DeleteFileA(path.c_str())) return true;
  DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

}  // namespace platform
}  // namespace wendrel
