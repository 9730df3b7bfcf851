// On Windows the server settings key's access list decides who can read the
// proxy passwords in it.

#include <string>
#include <vector>

#include "audit.h"
#include "config/registry_paths.h"
#include "platform/registry.h"
#include "platform/security_descriptor.h"

namespace wendrel {
namespace doctor {
namespace {

constexpr uint32_t kGenericRead = 0x80000000u;
constexpr uint32_t kGenericAll = 0x10000000u;

// Groups every ordinary user of a workstation belongs to.
const char* OrdinaryGroup(const std::string& sid) {
  if (sid == "S-1-1-0") return "Everyone";
  if (sid == "S-1-5-4") return "Interactive";
  if (sid == "S-1-5-11") return "Authenticated Users";
  if (sid == "S-1-5-32-545") return "Users";
  if (sid == "S-1-5-32-546") return "Guests";
  // Domain Users: S-1-5-21-<domain>-513.
  if (sid.compare(0, 9, "S-1-5-21-") == 0 && sid.size() > 4 &&
      sid.compare(sid.size() - 4, 4, "-513") == 0) {
    return "Domain Users";
  }
  return nullptr;
}

}  // namespace

bool ServerSettingsReadableByUsers(std::string* why) {
  platform::RegKey key;
  if (key.Open(platform::RegKey::LocalMachine(), kServerSettingsKeyPath, platform::kKeyRead) !=
      platform::kRegSuccess) {
    return false;
  }
  std::vector<uint8_t> descriptor;
  platform::SecurityDescriptorInfo info;
  if (key.GetSecurity(&descriptor) != platform::kRegSuccess ||
      !platform::ParseSecurityDescriptor(descriptor, &info)) {
    return false;
  }
  if (!info.dacl_present || info.dacl_null) {
    *why = "the key has no access list, so everyone can read it";
    return true;
  }
  for (const platform::AceInfo& ace : info.dacl) {
    if (ace.type != platform::kAccessAllowedAce) continue;
    const char* group = OrdinaryGroup(ace.sid);
    if (group == nullptr) continue;
    if ((ace.mask & (platform::kKeyQueryValue | kGenericRead | kGenericAll)) != 0) {
      *why = std::string("the key's access list lets ") + group + " (" + ace.sid +
             ") read its values";
      return true;
    }
  }
  return false;
}

}  // namespace doctor
}  // namespace wendrel
