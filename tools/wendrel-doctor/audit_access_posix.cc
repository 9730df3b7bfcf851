// Natively every key lives in one store file: whoever can read the file can
// read every value in it, proxy passwords included.

#include <sys/stat.h>

#include <cstdio>

#include "audit.h"
#include "platform/posix/registry_store.h"

namespace wendrel {
namespace doctor {

bool ServerSettingsReadableByUsers(std::string* why) {
  const std::string path = platform::RegistryStorePath();
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return false;
  if ((info.st_mode & S_IROTH) == 0) return false;
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
  *why = "the registry store " + path + " is readable by every user (mode " + mode + ")";
  return true;
}

}  // namespace doctor
}  // namespace wendrel
