#include "tools/wendrel-reg/registry_ops.h"

#include <algorithm>

#include "tools/wendrel-reg/key_path.h"

namespace wendrel {
namespace regtool {

using platform::RegKey;

int32_t ReadValues(const RegKey& key, std::vector<ExportValue>* values) {
  values->clear();
  for (uint32_t index = 0;; ++index) {
    ExportValue value;
    const int32_t status = key.EnumValue(index, &value.name, &value.type, &value.data);
    if (status == platform::kRegNoMoreItems) return platform::kRegSuccess;
    if (status != platform::kRegSuccess) return status;
    values->push_back(std::move(value));
  }
}

int32_t ReadSubKeyNames(const RegKey& key, std::vector<std::string>* names) {
  names->clear();
  for (uint32_t index = 0;; ++index) {
    std::string name;
    const int32_t status = key.EnumSubKey(index, &name);
    if (status == platform::kRegNoMoreItems) break;
    if (status != platform::kRegSuccess) return status;
    names->push_back(std::move(name));
  }
  std::sort(names->begin(), names->end(), LessIgnoreCase);
  return platform::kRegSuccess;
}

int32_t ReadKeyTree(const std::string& path, bool recursive, std::vector<ExportKey>* keys) {
  RegKey key;
  int32_t status = key.Open(RegKey::LocalMachine(), path, platform::kKeyRead);
  if (status != platform::kRegSuccess) return status;
  ExportKey entry;
  entry.path = path;
  status = ReadValues(key, &entry.values);
  if (status != platform::kRegSuccess) return status;
  keys->push_back(std::move(entry));
  if (!recursive) return platform::kRegSuccess;
  std::vector<std::string> names;
  status = ReadSubKeyNames(key, &names);
  if (status != platform::kRegSuccess) return status;
  key.Close();
  for (const std::string& name : names) {
    status = ReadKeyTree(path.empty() ? name : path + "\\" + name, true, keys);
    if (status != platform::kRegSuccess) return status;
  }
  return platform::kRegSuccess;
}

int32_t DeleteKeyTree(const std::string& path) {
  if (path.empty()) return platform::kRegAccessDenied;
  std::vector<std::string> names;
  {
    RegKey key;
    int32_t status = key.Open(RegKey::LocalMachine(), path, platform::kKeyRead);
    if (status != platform::kRegSuccess) return status;
    status = ReadSubKeyNames(key, &names);
    if (status != platform::kRegSuccess) return status;
  }
  for (const std::string& name : names) {
    const int32_t status = DeleteKeyTree(path + "\\" + name);
    if (status != platform::kRegSuccess && status != platform::kRegFileNotFound) return status;
  }
  // The predefined root is shared and read-only here: delete through a
  // handle of our own to it.
  RegKey root;
  const int32_t status = root.Open(RegKey::LocalMachine(), "", platform::kKeyAllAccess);
  if (status != platform::kRegSuccess) return status;
  return root.DeleteSubKey(path);
}

int32_t ApplyOperation(const RegFileOperation& op) {
  using Kind = RegFileOperation::Kind;
  if (op.kind == Kind::kDeleteKey) {
    const int32_t status = DeleteKeyTree(op.key);
    return status == platform::kRegFileNotFound ? platform::kRegSuccess : status;
  }
  RegKey key;
  if (op.kind == Kind::kDeleteValue) {
    int32_t status = key.Open(RegKey::LocalMachine(), op.key, platform::kKeySetValue);
    if (status == platform::kRegSuccess) status = key.DeleteValue(op.name);
    return status == platform::kRegFileNotFound ? platform::kRegSuccess : status;
  }
  int32_t status = key.Create(RegKey::LocalMachine(), op.key, platform::kKeyWrite, nullptr,
                              nullptr);
  if (status != platform::kRegSuccess || op.kind == Kind::kCreateKey) return status;
  return key.SetValue(op.name, op.type, op.data.data(), static_cast<uint32_t>(op.data.size()));
}

std::string StatusText(int32_t status) {
  switch (status) {
    case platform::kRegSuccess:
      return "The operation completed successfully.";
    case platform::kRegFileNotFound:
    case platform::kRegPathNotFound:
      return "The system was unable to find the specified registry key or value.";
    case platform::kRegAccessDenied:
      return "Access is denied.";
    case platform::kRegNotEnoughMemory:
      return "Not enough memory.";
    case platform::kRegInvalidParameter:
      return "The parameter is incorrect.";
    case platform::kRegBadDb:
      return "The registry store is corrupt.";
    case platform::kRegIoFailed:
      return "The registry store could not be read or written (busy or unreadable).";
    case platform::kRegKeyDeleted:
      return "The key was deleted while it was in use.";
    default:
      return "Registry error " + std::to_string(status) + ".";
  }
}

}  // namespace regtool
}  // namespace wendrel
