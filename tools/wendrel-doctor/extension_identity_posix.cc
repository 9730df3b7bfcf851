// Natively there is no installation and no Authenticode: the extension is
// the libwendrel.so built beside this program, from the same source, so its
// version is this program's.

#include <limits.h>
#include <unistd.h>

#include <string>

#include "core/version.h"
#include "extension_identity.h"

namespace wendrel {
namespace doctor {

bool IdentifyInstalledExtension(ExtensionIdentity* identity, std::string* error) {
  char self[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (length <= 0) {
    *error = "cannot tell where this program is (/proc/self/exe)";
    return false;
  }
  std::string path(self, static_cast<size_t>(length));
  path.erase(path.rfind('/') + 1);
  path += "libwendrel.so";
  if (access(path.c_str(), R_OK) != 0) {
    *error = "no extension at " + path;
    return false;
  }
  identity->version = Version();
  identity->path = path;
  identity->signature = Signature::kNotApplicable;
  return true;
}

}  // namespace doctor
}  // namespace wendrel
