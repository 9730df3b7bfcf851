#include "core/registrar.h"

#include <string>

#include "platform/registry.h"

namespace wendrel {
namespace {

using platform::RegKey;

constexpr uint32_t kReadWrite = platform::kKeyRead | platform::kKeyWrite;

int32_t RegisterKey(const RegKey& parent, const ScriptKey& key) {
  RegKey handle;
  // A key the caller may only read is still walked through: its subkeys may
  // exist already, and only a key that must be written or created fails.
  int32_t status = handle.Open(parent, key.name, kReadWrite);
  if (status != platform::kRegSuccess) status = handle.Open(parent, key.name, platform::kKeyRead);
  if (status != platform::kRegSuccess) {
    status = handle.Create(parent, key.name, kReadWrite, nullptr, nullptr);
  }
  if (status != platform::kRegSuccess) return status;
  for (const ScriptValue& value : key.values) {
    status = handle.SetValue(value.name, value.type, value.data.data(),
                             static_cast<uint32_t>(value.data.size()));
    if (status != platform::kRegSuccess) return status;
  }
  for (const ScriptKey& subkey : key.subkeys) {
    status = RegisterKey(handle, subkey);
    if (status != platform::kRegSuccess) return status;
  }
  return platform::kRegSuccess;
}

void UnregisterKey(RegKey& parent, const ScriptKey& key) {
  RegKey handle;
  if (handle.Open(parent, key.name, kReadWrite) != platform::kRegSuccess &&
      handle.Open(parent, key.name, platform::kKeyRead) != platform::kRegSuccess) {
    return;  // nothing of ours below a key that is not there
  }
  for (const ScriptValue& value : key.values) handle.DeleteValue(value.name);
  for (const ScriptKey& subkey : key.subkeys) UnregisterKey(handle, subkey);
  uint32_t subkeys = 0;
  if (handle.QueryInfo(&subkeys, nullptr) != platform::kRegSuccess || subkeys != 0) return;
  handle.Close();
  parent.DeleteSubKey(key.name);
}

}  // namespace

int32_t RegisterScript(const RegistrationScript& script) {
  int32_t status = platform::kRegSuccess;
  for (const ScriptKey& key : script.keys) {
    status = RegisterKey(RegKey::LocalMachine(), key);
    if (status != platform::kRegSuccess) break;
  }
  if (status == platform::kRegSuccess) return kSOk;
  UnregisterScript(script);
  return HresultFromWin32(status);
}

void UnregisterScript(const RegistrationScript& script) {
  // A handle of our own on the root, since deleting a subkey needs a handle
  // that is not the shared predefined one.
  RegKey root;
  if (root.Open(RegKey::LocalMachine(), "", kReadWrite) != platform::kRegSuccess) return;
  for (const ScriptKey& key : script.keys) UnregisterKey(root, key);
}

}  // namespace wendrel
