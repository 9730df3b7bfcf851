// The registry port over the native store: a RegKey holds the store file it
// was opened in, the key's number there and the access it was opened with.

#include <utility>

#include "platform/posix/registry_store.h"
#include "platform/registry.h"
#include "platform/registry_call_counter.h"
#include "platform/security_descriptor.h"

namespace wendrel {
namespace platform {

namespace {

constexpr uint32_t kReadControl = 0x20000;

struct StoreKey {
  std::string store;  // empty for the root: the store $WENDREL_REGISTRY names now
  int64_t id;
  uint32_t access;
};

}  // namespace

class RegKeyAccess {
 public:
  static const StoreKey* Get(const RegKey& key) {
    return static_cast<const StoreKey*>(key.handle_);
  }
  static void MakePredefined(RegKey* key, StoreKey* record) {
    key->handle_ = record;
    key->predefined_ = true;
  }
  static void Own(RegKey* key, StoreKey* record) { key->handle_ = record; }
};

namespace {

std::string StoreOf(const StoreKey& key) {
  return key.store.empty() ? RegistryStorePath() : key.store;
}

// The handle's store when the handle is open and grants `needed`.
int32_t Check(const RegKey& key, uint32_t needed, const StoreKey** record) {
  *record = RegKeyAccess::Get(key);
  if (*record == nullptr) return kRegInvalidHandle;
  return ((*record)->access & needed) == needed ? kRegSuccess : kRegAccessDenied;
}

}  // namespace

const RegKey& RegKey::LocalMachine() {
  static const RegKey* root = [] {
    // Never destroyed: the root outlives every user, static ones included.
    RegKey* key = new RegKey;
    RegKeyAccess::MakePredefined(key, new StoreKey{std::string(), kStoreRootKey, ~0u});
    return key;
  }();
  return *root;
}

void RegKey::Close() {
  if (handle_ != nullptr && !predefined_) {
    CountRegistryCall(RegistryCall::kClose);
    delete static_cast<StoreKey*>(handle_);
  }
  handle_ = nullptr;
  predefined_ = false;
}

int32_t RegKey::Open(const RegKey& parent, const std::string& subkey, uint32_t access) {
  CountRegistryCall(RegistryCall::kOpen);
  const StoreKey* from = RegKeyAccess::Get(parent);
  int32_t status = kRegInvalidHandle;
  std::string store;
  int64_t id = 0;
  if (from != nullptr) {
    store = StoreOf(*from);
    status = RegistryStore(store).OpenKey(from->id, subkey, &id);
  }
  Close();  // after the open: `parent` may be this very key
  if (status == kRegSuccess) RegKeyAccess::Own(this, new StoreKey{store, id, access});
  return status;
}

int32_t RegKey::Create(const RegKey& parent, const std::string& subkey, uint32_t access,
                       const std::vector<KeyAccessEntry>* acl, bool* created) {
  CountRegistryCall(RegistryCall::kOpen);
  const StoreKey* from = RegKeyAccess::Get(parent);
  int32_t status = from != nullptr ? kRegSuccess : kRegInvalidHandle;
  std::vector<uint8_t> descriptor;
  if (status == kRegSuccess && acl != nullptr && !BuildSecurityDescriptor(*acl, &descriptor)) {
    status = kRegInvalidParameter;  // ConvertStringSidToSid's answer to a bad SID
  }
  std::string store;
  int64_t id = 0;
  bool made = false;
  if (status == kRegSuccess) {
    store = StoreOf(*from);
    status = RegistryStore(store).CreateKey(from->id, subkey, acl != nullptr ? &descriptor : nullptr,
                                            &id, &made);
  }
  Close();
  if (status == kRegSuccess) RegKeyAccess::Own(this, new StoreKey{store, id, access});
  if (created != nullptr) *created = status == kRegSuccess && made;
  return status;
}

int32_t RegKey::QueryValue(const std::string& name, uint32_t* type, void* data,
                           uint32_t* size) const {
  CountRegistryCall(RegistryCall::kQuery);
  const StoreKey* key = nullptr;
  int32_t status = Check(*this, kKeyQueryValue, &key);
  if (status != kRegSuccess) return status;
  return RegistryStore(StoreOf(*key)).QueryValue(key->id, name, type, data, size);
}

int32_t RegKey::SetValue(const std::string& name, uint32_t type, const void* data,
                         uint32_t size) {
  CountRegistryCall(RegistryCall::kWrite);
  const StoreKey* key = nullptr;
  int32_t status = Check(*this, kKeySetValue, &key);
  if (status != kRegSuccess) return status;
  return RegistryStore(StoreOf(*key)).SetValue(key->id, name, type, data, size);
}

int32_t RegKey::DeleteValue(const std::string& name) {
  CountRegistryCall(RegistryCall::kWrite);
  const StoreKey* key = nullptr;
  int32_t status = Check(*this, kKeySetValue, &key);
  if (status != kRegSuccess) return status;
  return RegistryStore(StoreOf(*key)).DeleteValue(key->id, name);
}

int32_t RegKey::DeleteSubKey(const std::string& subkey) {
  CountRegistryCall(RegistryCall::kWrite);
  // As with RegDeleteKey, the rights of this handle do not matter.
  const StoreKey* key = nullptr;
  int32_t status = Check(*this, 0, &key);
  if (status != kRegSuccess) return status;
  return RegistryStore(StoreOf(*key)).DeleteKey(key->id, subkey);
}

int32_t RegKey::EnumSubKey(uint32_t index, std::string* name) const {
  CountRegistryCall(RegistryCall::kQuery);
  const StoreKey* key = nullptr;
  int32_t status = Check(*this, kKeyEnumerateSubKeys, &key);
  if (status != kRegSuccess) return status;
  return RegistryStore(StoreOf(*key)).EnumKey(key->id, index, name);
}

int32_t RegKey::EnumValue(uint32_t index, std::string* name, uint32_t* type,
                          std::vector<uint8_t>* data) const {
  CountRegistryCall(RegistryCall::kQuery);
  const StoreKey* key = nullptr;
  int32_t status = Check(*this, kKeyQueryValue, &key);
  if (status != kRegSuccess) return status;
  return RegistryStore(StoreOf(*key)).EnumValue(key->id, index, name, type, data);
}

int32_t RegKey::QueryInfo(uint32_t* subkeys, uint32_t* values) const {
  CountRegistryCall(RegistryCall::kQuery);
  const StoreKey* key = nullptr;
  int32_t status = Check(*this, kKeyQueryValue, &key);
  if (status != kRegSuccess) return status;
  return RegistryStore(StoreOf(*key)).QueryInfo(key->id, subkeys, values);
}

int32_t RegKey::GetSecurity(std::vector<uint8_t>* descriptor) const {
  CountRegistryCall(RegistryCall::kQuery);
  const StoreKey* key = nullptr;
  int32_t status = Check(*this, kReadControl, &key);
  if (status != kRegSuccess) return status;
  return RegistryStore(StoreOf(*key)).GetSecurity(key->id, descriptor);
}

}  // namespace platform
}  // namespace wendrel
