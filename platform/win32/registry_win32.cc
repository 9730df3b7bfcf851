// The registry port over advapi32: each RegKey holds an HKEY.

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/registry.h"
#include "platform/registry_call_counter.h"
#include "platform/win32/registry_query_win32.h"

namespace wendrel {
namespace platform {

class RegKeyAccess {
 public:
  static HKEY Get(const RegKey& key) { return static_cast<HKEY>(key.handle_); }
  static void Set(RegKey* key, HKEY handle) { key->handle_ = handle; }
  static void MakePredefined(RegKey* key, HKEY handle) {
    key->handle_ = handle;
    key->predefined_ = true;
  }
};

namespace {

struct LocalFreeDeleter {
  void operator()(void* p) const {
    if (p != nullptr) LocalFree(p);
  }
};
using LocalPtr = std::unique_ptr<void, LocalFreeDeleter>;

// Security attributes for RegCreateKeyExA that grant exactly `acl`: one SID
// per entry, an ACL made from those entries alone, and an absolute
// descriptor (revision 1, DACL present and not defaulted) in a zero-filled
// block. Everything is freed with the object.
class KeySecurity {
 public:
  int32_t Build(const std::vector<KeyAccessEntry>& acl) {
    std::vector<EXPLICIT_ACCESS_A> access(acl.size());
    for (size_t i = 0; i < acl.size(); ++i) {
      PSID sid = nullptr;
      if (!ConvertStringSidToSidA(acl[i].sid.c_str(), &sid)) return LastError();
      sids_.emplace_back(sid);
      EXPLICIT_ACCESS_A& entry = access[i];
      ZeroMemory(&entry, sizeof(entry));
      entry.grfAccessPermissions = acl[i].rights;
      entry.grfAccessMode = SET_ACCESS;
      entry.grfInheritance = NO_INHERITANCE;
      entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
      entry.Trustee.TrusteeType = static_cast<TRUSTEE_TYPE>(acl[i].trustee_type);
      entry.Trustee.ptstrName = static_cast<LPSTR>(sid);
    }
    PACL list = nullptr;
    DWORD status = SetEntriesInAclA(static_cast<ULONG>(access.size()), access.data(), nullptr,
                                    &list);
    if (status != ERROR_SUCCESS) return static_cast<int32_t>(status);
    acl_.reset(list);

    static_assert(SECURITY_DESCRIPTOR_MIN_LENGTH == 40, "absolute descriptor block");
    descriptor_.reset(LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH));
    if (!descriptor_) return kRegNotEnoughMemory;
    if (!InitializeSecurityDescriptor(descriptor_.get(), SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(descriptor_.get(), TRUE, list, FALSE)) {
      return LastError();
    }
    attributes_.nLength = sizeof(attributes_);
    attributes_.lpSecurityDescriptor = descriptor_.get();
    attributes_.bInheritHandle = FALSE;
    return kRegSuccess;
  }

  SECURITY_ATTRIBUTES* attributes() { return &attributes_; }
  PSECURITY_DESCRIPTOR descriptor() { return descriptor_.get(); }

 private:
  static int32_t LastError() {
    DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? kRegInvalidParameter : static_cast<int32_t>(error);
  }

  std::vector<LocalPtr> sids_;
  LocalPtr acl_;
  LocalPtr descriptor_;
  SECURITY_ATTRIBUTES attributes_ = {};
};

static_assert(sizeof(SECURITY_ATTRIBUTES) == 24, "security attributes of length 24");

// Longest key name, and longest value name, in characters plus terminator.
constexpr DWORD kMaxKeyName = 256;
constexpr DWORD kMaxValueName = 16384;

// The paths below `from`, outermost first, of the keys of `subkey` that do
// not exist yet: every prefix from the first missing key to `subkey` itself.
// A key that exists but cannot be opened counts as existing. Asked from the
// innermost key outwards: the results cache writes its entry again after
// every login it answers, and then the entry itself exists and one open
// settles it.
std::vector<std::string> MissingKeys(HKEY from, const std::string& subkey) {
  std::vector<std::string> prefixes;
  for (size_t at = subkey.find('\\'); at != std::string::npos; at = subkey.find('\\', at + 1)) {
    if (at > 0) prefixes.push_back(subkey.substr(0, at));
  }
  prefixes.push_back(subkey);
  size_t missing_from = prefixes.size();
  while (missing_from > 0) {
    HKEY probe = nullptr;
    const LONG status =
        RegOpenKeyExA(from, prefixes[missing_from - 1].c_str(), 0, KEY_QUERY_VALUE, &probe);
    if (status == ERROR_SUCCESS) RegCloseKey(probe);
    if (status != ERROR_FILE_NOT_FOUND) break;
    --missing_from;
  }
  return std::vector<std::string>(prefixes.begin() + static_cast<std::ptrdiff_t>(missing_from),
                                  prefixes.end());
}

// Sets `descriptor`'s DACL on the key at `path` below `from`.
LONG SetDacl(HKEY from, const std::string& path, PSECURITY_DESCRIPTOR descriptor) {
  HKEY key = nullptr;
  LONG status = RegOpenKeyExA(from, path.c_str(), 0, WRITE_DAC, &key);
  if (status != ERROR_SUCCESS) return status;
  status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
  RegCloseKey(key);
  return status;
}

}  // namespace

const RegKey& RegKey::LocalMachine() {
  static const RegKey* root = [] {
    RegKey* key = new RegKey;  // never destroyed: the root outlives every user
    RegKeyAccess::MakePredefined(key, HKEY_LOCAL_MACHINE);
    return key;
  }();
  return *root;
}

void RegKey::Close() {
  if (handle_ != nullptr && !predefined_) {
    CountRegistryCall(RegistryCall::kClose);
    RegCloseKey(static_cast<HKEY>(handle_));
  }
  handle_ = nullptr;
  predefined_ = false;
}

int32_t RegKey::Open(const RegKey& parent, const std::string& subkey, uint32_t access) {
  CountRegistryCall(RegistryCall::kOpen);
  // Open first, so that reopening a child through this very object works.
  HKEY from = RegKeyAccess::Get(parent);
  HKEY opened = nullptr;
  LONG status = from == nullptr ? ERROR_INVALID_HANDLE
                                : RegOpenKeyExA(from, subkey.c_str(), 0, access, &opened);
  Close();
  if (status == ERROR_SUCCESS) handle_ = opened;
  return status;
}

int32_t RegKey::Create(const RegKey& parent, const std::string& subkey, uint32_t access,
                       const std::vector<KeyAccessEntry>* acl, bool* created) {
  CountRegistryCall(RegistryCall::kOpen);
  HKEY from = RegKeyAccess::Get(parent);
  // A key that exists already is only opened: a create would open it with
  // the same access and leave its security alone. The results cache writes
  // its entry again after every login it answers; this open spares that
  // write the probe for missing keys (an open and a close) and the create,
  // each a round trip to the registry.
  if (from != nullptr && acl != nullptr) {
    HKEY existing = nullptr;
    if (RegOpenKeyExA(from, subkey.c_str(), 0, access, &existing) == ERROR_SUCCESS) {
      Close();
      handle_ = existing;
      if (created != nullptr) *created = false;
      return kRegSuccess;
    }
  }
  KeySecurity security;
  LONG status = from == nullptr ? ERROR_INVALID_HANDLE : ERROR_SUCCESS;
  if (status == ERROR_SUCCESS && acl != nullptr) status = security.Build(*acl);
  // Which keys of the path this call will create: asked before the create,
  // since its disposition speaks for the last key only.
  std::vector<std::string> to_create;
  if (status == ERROR_SUCCESS && acl != nullptr) to_create = MissingKeys(from, subkey);
  HKEY opened = nullptr;
  DWORD disposition = 0;
  if (status == ERROR_SUCCESS) {
    status = RegCreateKeyExA(from, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                             acl != nullptr ? security.attributes() : nullptr, &opened,
                             &disposition);
  }
  // Wine creates keys with its default security whatever the attributes say;
  // setting the DACL once more on every key the create made gives them the
  // list on every system (on Windows they already have exactly this DACL).
  if (status == ERROR_SUCCESS && acl != nullptr && disposition == REG_CREATED_NEW_KEY) {
    for (const std::string& path : to_create) {
      status = SetDacl(from, path, security.descriptor());
      if (status != ERROR_SUCCESS) break;
    }
    if (status != ERROR_SUCCESS) {
      // Nothing of a key without its list is left behind.
      RegCloseKey(opened);
      opened = nullptr;
      for (auto path = to_create.rbegin(); path != to_create.rend(); ++path) {
        RegDeleteKeyA(from, path->c_str());
      }
    }
  }
  Close();
  if (status == ERROR_SUCCESS) handle_ = opened;
  if (created != nullptr) {
    *created = status == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY;
  }
  return status;
}

int32_t RegKey::QueryValue(const std::string& name, uint32_t* type, void* data,
                           uint32_t* size) const {
  CountRegistryCall(RegistryCall::kQuery);
  if (handle_ == nullptr) return kRegInvalidHandle;
  DWORD got_type = 0;
  DWORD got_size = size != nullptr ? *size : 0;
  DWORD* want_type = type != nullptr ? &got_type : nullptr;
  DWORD* want_size = size != nullptr ? &got_size : nullptr;
  HKEY key = static_cast<HKEY>(handle_);
  LONG status = predefined_
                    ? RegQueryValueExA(key, name.c_str(), nullptr, want_type,
                                       static_cast<BYTE*>(data), want_size)
                    : QueryValueOnce(key, name.c_str(), want_type, static_cast<BYTE*>(data),
                                     want_size);
  if (type != nullptr && (status == ERROR_SUCCESS || status == ERROR_MORE_DATA)) {
    *type = got_type;
  }
  if (size != nullptr && (status == ERROR_SUCCESS || status == ERROR_MORE_DATA)) {
    *size = got_size;
  }
  return status;
}

int32_t RegKey::SetValue(const std::string& name, uint32_t type, const void* data,
                         uint32_t size) {
  CountRegistryCall(RegistryCall::kWrite);
  if (handle_ == nullptr) return kRegInvalidHandle;
  return RegSetValueExA(static_cast<HKEY>(handle_), name.c_str(), 0, type,
                        static_cast<const BYTE*>(data), size);
}

int32_t RegKey::DeleteValue(const std::string& name) {
  CountRegistryCall(RegistryCall::kWrite);
  if (handle_ == nullptr) return kRegInvalidHandle;
  return RegDeleteValueA(static_cast<HKEY>(handle_), name.c_str());
}

int32_t RegKey::DeleteSubKey(const std::string& subkey) {
  CountRegistryCall(RegistryCall::kWrite);
  if (handle_ == nullptr) return kRegInvalidHandle;
  return RegDeleteKeyA(static_cast<HKEY>(handle_), subkey.c_str());
}

int32_t RegKey::EnumSubKey(uint32_t index, std::string* name) const {
  CountRegistryCall(RegistryCall::kQuery);
  if (handle_ == nullptr) return kRegInvalidHandle;
  char buffer[kMaxKeyName];
  DWORD length = kMaxKeyName;
  LONG status = RegEnumKeyExA(static_cast<HKEY>(handle_), index, buffer, &length, nullptr,
                              nullptr, nullptr, nullptr);
  if (status == ERROR_SUCCESS && name != nullptr) name->assign(buffer, length);
  return status;
}

int32_t RegKey::EnumValue(uint32_t index, std::string* name, uint32_t* type,
                          std::vector<uint8_t>* data) const {
  CountRegistryCall(RegistryCall::kQuery);
  if (handle_ == nullptr) return kRegInvalidHandle;
  std::vector<char> name_buffer(kMaxValueName);
  std::vector<uint8_t> bytes(256);
  for (;;) {
    DWORD name_length = kMaxValueName;
    DWORD got_type = 0;
    DWORD got_size = static_cast<DWORD>(bytes.size());
    LONG status = RegEnumValueA(static_cast<HKEY>(handle_), index, name_buffer.data(),
                                &name_length, nullptr, &got_type, bytes.data(), &got_size);
    if (status == ERROR_MORE_DATA && got_size > bytes.size()) {
      bytes.resize(got_size);  // the value is larger than the buffer: ask again
      continue;
    }
    if (status != ERROR_SUCCESS) return status;
    if (name != nullptr) name->assign(name_buffer.data(), name_length);
    if (type != nullptr) *type = got_type;
    if (data != nullptr) data->assign(bytes.begin(), bytes.begin() + got_size);
    return kRegSuccess;
  }
}

int32_t RegKey::QueryInfo(uint32_t* subkeys, uint32_t* values) const {
  CountRegistryCall(RegistryCall::kQuery);
  if (handle_ == nullptr) return kRegInvalidHandle;
  DWORD key_count = 0;
  DWORD value_count = 0;
  LONG status = RegQueryInfoKeyA(static_cast<HKEY>(handle_), nullptr, nullptr, nullptr,
                                 &key_count, nullptr, nullptr, &value_count, nullptr, nullptr,
                                 nullptr, nullptr);
  if (status != ERROR_SUCCESS) return status;
  if (subkeys != nullptr) *subkeys = key_count;
  if (values != nullptr) *values = value_count;
  return kRegSuccess;
}

int32_t RegKey::GetSecurity(std::vector<uint8_t>* descriptor) const {
  CountRegistryCall(RegistryCall::kQuery);
  if (handle_ == nullptr) return kRegInvalidHandle;
  std::vector<uint8_t> buffer(256);
  for (;;) {
    DWORD size = static_cast<DWORD>(buffer.size());
    LONG status = RegGetKeySecurity(static_cast<HKEY>(handle_), DACL_SECURITY_INFORMATION,
                                    buffer.data(), &size);
    if (status == ERROR_INSUFFICIENT_BUFFER && size > buffer.size()) {
      buffer.resize(size);
      continue;
    }
    if (status != ERROR_SUCCESS) return status;
    // On success the size is not necessarily updated: ask the descriptor.
    buffer.resize(GetSecurityDescriptorLength(buffer.data()));
    if (descriptor != nullptr) descriptor->swap(buffer);
    return kRegSuccess;
  }
}

}  // namespace platform
}  // namespace wendrel
