// The native registry store: the keys and values of HKEY_LOCAL_MACHINE kept
// in an SQLite database file, shared by every process of the machine.
//
// Every write is one transaction (it takes the write lock at once, so a
// value is never torn and concurrent writers simply take turns), waits at
// most a few seconds for another writer, and answers with a Win32 error code.
// Every read sees every write committed before it began, by any process: it
// is one transaction too, unless the store's change counter (one word in a
// file every process maps) shows that nothing was written since this
// process read the same thing, which it then answers from memory. Opening
// a key also looks at the file, so a store replaced by another file is
// noticed at the latest there.
// Keys are numbered; the root is key 0 and always exists, even when the file
// does not. Key numbers are never reused, so a number whose key is gone
// answers kRegKeyDeleted.

#ifndef WENDREL_PLATFORM_POSIX_REGISTRY_STORE_H_
#define WENDREL_PLATFORM_POSIX_REGISTRY_STORE_H_

#include <cstdint>
#include <string>
#include <vector>

namespace wendrel {
namespace platform {

constexpr int64_t kStoreRootKey = 0;

// $WENDREL_REGISTRY, or /var/lib/wendrel/registry.db when it is unset.
std::string RegistryStorePath();

// One store file. The object is only the path: connections are opened on
// demand and shared, per path, by every object of the process.
class RegistryStore {
 public:
  explicit RegistryStore(std::string path) : path_(std::move(path)) {}

  const std::string& path() const { return path_; }

  // `subkey` is a backslash-separated path below `parent` ("" names the
  // parent itself).
  int32_t OpenKey(int64_t parent, const std::string& subkey, int64_t* key) const;
  // Creates the missing keys of the path; those get `security` (a
  // self-relative descriptor) when it is given.
  int32_t CreateKey(int64_t parent, const std::string& subkey,
                    const std::vector<uint8_t>* security, int64_t* key, bool* created) const;
  // Deletes the key with its values; a key with subkeys is kept
  // (kRegAccessDenied), and so is the root.
  int32_t DeleteKey(int64_t parent, const std::string& subkey) const;

  int32_t QueryValue(int64_t key, const std::string& name, uint32_t* type, void* data,
                     uint32_t* size) const;
  int32_t SetValue(int64_t key, const std::string& name, uint32_t type, const void* data,
                   uint32_t size) const;
  int32_t DeleteValue(int64_t key, const std::string& name) const;

  // Subkeys in the order of their upper-cased names, values in the order
  // they were first written.
  int32_t EnumKey(int64_t key, uint32_t index, std::string* name) const;
  int32_t EnumValue(int64_t key, uint32_t index, std::string* name, uint32_t* type,
                    std::vector<uint8_t>* data) const;
  int32_t QueryInfo(int64_t key, uint32_t* subkeys, uint32_t* values) const;
  // Empty when the key was created without a descriptor.
  int32_t GetSecurity(int64_t key, std::vector<uint8_t>* descriptor) const;

 private:
  std::string path_;
};

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_POSIX_REGISTRY_STORE_H_
