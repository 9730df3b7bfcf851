// The results cache: the operations of UserData that load, check and store
// one entry of HKLM\Software\Tarvos\LDAP\CachedResults.

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "config/ldap_config_options.h"
#include "platform/event_log.h"
#include "results/cache_entry_path.h"
#include "results/user_data.h"
#include "standins/directory_services.h"

namespace wendrel {
namespace {

using platform::RegKey;

// Every value is written with exactly this many bytes of data.
constexpr uint32_t kStoredBytes = 260;
// Every value is read with this many bytes offered.
constexpr uint32_t kReadBytes = 265;

constexpr char kUserTree[] = "UserTree";
constexpr char kUserServer[] = "UserServer";
constexpr char kUser[] = "User";
constexpr char kUserContext[] = "UserContext";
constexpr char kUserFdn[] = "UserFDN";
constexpr char kUserContextFdn[] = "UserContextFDN";

constexpr uint32_t kKeyReadWrite = platform::kKeyRead | platform::kKeyWrite;  // 0x2001F

// The entry path in the mode the options name right now. Reading the
// options first lets BadReg out before the cache is touched.
bool EntryPath(const std::string& name, const std::string& tree, std::string* path) {
  LDAPConfigOptions options;
  return FormatCacheEntryPath(name, tree, options.TreelessLoginEnabled(), path);
}

// Reads a value of any type. The text is what precedes the first zero byte;
// the buffer has one zero byte more than is offered, so a value of 265
// bytes without any zero still ends inside it. False when the value is
// missing or longer than 265 bytes.
bool ReadText(const RegKey& key, const char* name, std::string* text) {
  char buffer[kReadBytes + 1];
  std::memset(buffer, 0, sizeof(buffer));
  uint32_t size = kReadBytes;
  if (key.QueryValue(name, nullptr, buffer, &size) != platform::kRegSuccess) return false;
  *text = std::string(buffer);
  return true;
}

// Writes `text` as REG_SZ with 260 bytes of data: the text, its terminator
// and zero fill; a text of 260 bytes or more keeps its first 260 and no
// terminator. Returns the registry's status.
int32_t WriteText(RegKey* key, const char* name, const std::string& text) {
  // RegSetValueExA looks at the byte after REG_SZ data: when the data end in
  // a non-zero byte and a zero follows, it stores that zero as well. The
  // byte after the 260 is ours and never zero, so a cut text stays 260
  // bytes long and nothing past the buffer is read.
  char data[kStoredBytes + 1];
  std::memset(data, 0, sizeof(data));
  data[kStoredBytes] = '\x7F';
  std::memcpy(data, text.data(), text.size() < kStoredBytes ? text.size() : kStoredBytes);
  return key->SetValue(name, platform::kRegSz, data, kStoredBytes);
}

// One event for a cache entry that could not be written, whatever failed
// after it: `doing` says what was being done, never which entry (the entry's
// path holds the typed name, and users sometimes type a password there).
void ReportCacheWriteFailed(const std::string& doing, int32_t status) {
  platform::ReportEvent(platform::EventId::kCacheWriteFailed, {doing, std::to_string(status)});
}

// The directory-services check of a cached user: 0 when the directory knows
// `user_fdn` in the context `context_fdn` of `tree`.
uint32_t LookUpCachedUser(const std::string& tree, const std::string& context_fdn,
                          const std::string& user_fdn) {
  uint32_t context = 0;
  QZDSCreateContext(&context);
  QZDSSetContext(context, kDsSettingTreeName, tree.c_str());
  QZDSSetContext(context, kDsSettingNameContext, context_fdn.c_str());
  const uint32_t status = QZDSLookupName(context, user_fdn.c_str(), nullptr, nullptr);
  QZDSFreeContext(context);
  return status;
}

}  // namespace

bool UserData::ReadCachedUser() {
  std::string path;
  if (!EntryPath(name_, tree_, &path)) return false;
  RegKey key;
  if (key.Open(RegKey::LocalMachine(), path, platform::kKeyRead) != platform::kRegSuccess) {
    return false;
  }
  std::string user, user_context, user_fdn, user_context_fdn;
  if (!ReadText(key, kUserTree, &tree_) || !ReadText(key, kUserServer, &server_) ||
      !ReadText(key, kUserFdn, &user_fdn) || !ReadText(key, kUser, &user) ||
      !ReadText(key, kUserContextFdn, &user_context_fdn) ||
      !ReadText(key, kUserContext, &user_context)) {
    return false;
  }
  AddUser(user, user_fdn, user_context, user_context_fdn);
  return true;
}

bool UserData::ValidateCachedUser() {
  std::string path;
  if (!EntryPath(name_, tree_, &path)) return false;
  RegKey key;
  if (key.Open(RegKey::LocalMachine(), path, kKeyReadWrite) != platform::kRegSuccess) {
    return false;
  }
  // "User" is not needed to check the entry, so it is not read.
  std::string user_fdn, user_context_fdn, user_context;
  if (!ReadText(key, kUserTree, &tree_) || !ReadText(key, kUserServer, &server_) ||
      !ReadText(key, kUserFdn, &user_fdn) ||
      !ReadText(key, kUserContextFdn, &user_context_fdn) ||
      !ReadText(key, kUserContext, &user_context)) {
    return false;
  }
  if (LookUpCachedUser(tree_, user_context_fdn, user_fdn) == 0) return true;

  // Stale: the directory no longer knows the user. Failures are ignored; an
  // entry that cannot be removed is checked again at the next login.
  for (const char* name : {kUserTree, kUserFdn, kUserContext, kUserServer, kUserContextFdn}) {
    key.DeleteValue(name);
  }
  RegKey root;
  if (root.Open(RegKey::LocalMachine(), "", kKeyReadWrite) == platform::kRegSuccess) {
    root.DeleteSubKey(path);
  }
  return false;
}

bool UserData::CacheFirstUser() {
  // The cursor is left on the first record.
  return StoreUser(GetFirstUser());
}

bool UserData::CacheChosenUser(const UserObj& user) { return StoreUser(&user); }

bool UserData::StoreUser(const UserObj* user) {
  std::string path;
  if (!EntryPath(name_, tree_, &path)) return false;
  // A resolution without a record has nothing to store; no key is created.
  if (user == nullptr) return false;
  RegKey key;
  const int32_t created = CreateCacheKey(path, &key);
  if (created != platform::kRegSuccess) {
    ReportCacheWriteFailed("creating the cache entry's key", created);
    return false;
  }
  // Written over the entry value by value; nothing is deleted first, and a
  // value that cannot be written does not stop the others.
  const std::pair<const char*, std::string> values[] = {
      {kUserTree, tree_},
      {kUserContext, user->GetUserContext()},
      {kUserFdn, user->GetUserFDN()},
      {kUser, user->GetUser()},
      {kUserContextFdn, user->GetUserContextFDN()},
      {kUserServer, server_},
  };
  bool reported = false;
  for (const auto& value : values) {
    const int32_t status = WriteText(&key, value.first, value.second);
    if (status != platform::kRegSuccess && !reported) {
      ReportCacheWriteFailed(std::string("writing the value ") + value.first + " of a cache entry",
                             status);
      reported = true;
    }
  }
  return true;
}

int32_t UserData::CreateCacheKey(const std::string& path, RegKey* key) {
  // Everyone and the local Administrators, full control, nothing else: the
  // cache is shared by every login on the workstation.
  static const std::vector<platform::KeyAccessEntry> kAcl = {
      {"S-1-1-0", platform::kTrusteeIsWellKnownGroup, platform::kKeyAllAccess},
      {"S-1-5-32-544", platform::kTrusteeIsGroup, platform::kKeyAllAccess},
  };
  return key->Create(RegKey::LocalMachine(), path, platform::kKeyAllAccess, &kAcl, nullptr);
}

}  // namespace wendrel
