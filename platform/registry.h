// The registry port: the part of the Windows registry the extension and its
// tools use, under HKEY_LOCAL_MACHINE only.
//
// On Windows it is advapi32. Natively it is a persistent SQLite store at
// $WENDREL_REGISTRY (default /var/lib/wendrel/registry.db) that keeps the
// Windows semantics the extension depends on: case-insensitive key and value
// names kept with their case, typed raw data, ERROR_MORE_DATA for a short
// buffer (buffer left as it was), ERROR_FILE_NOT_FOUND for a missing key or
// value, ERROR_ACCESS_DENIED for a store that cannot be written, and the
// security descriptor of a key created with one.
//
// Every call returns a Win32 error code (kRegSuccess on success).

#ifndef WENDREL_PLATFORM_REGISTRY_H_
#define WENDREL_PLATFORM_REGISTRY_H_

#include <cstdint>
#include <string>
#include <vector>

namespace wendrel {
namespace platform {

// Win32 error codes, as both backends report them.
enum RegStatus : int32_t {
  kRegSuccess = 0,
  kRegFileNotFound = 2,        // ERROR_FILE_NOT_FOUND: no such key or value
  kRegPathNotFound = 3,        // ERROR_PATH_NOT_FOUND
  kRegAccessDenied = 5,        // ERROR_ACCESS_DENIED
  kRegInvalidHandle = 6,       // ERROR_INVALID_HANDLE: the key is not open
  kRegNotEnoughMemory = 8,     // ERROR_NOT_ENOUGH_MEMORY
  kRegInvalidParameter = 87,   // ERROR_INVALID_PARAMETER
  kRegMoreData = 234,          // ERROR_MORE_DATA: the buffer is too small
  kRegNoMoreItems = 259,       // ERROR_NO_MORE_ITEMS: enumeration ended
  kRegBadDb = 1009,            // ERROR_BADDB: the store is corrupt
  kRegIoFailed = 1016,         // ERROR_REGISTRY_IO_FAILED: store busy or unreadable
  kRegKeyDeleted = 1018,       // ERROR_KEY_DELETED: the open key was deleted
};

// Value types (REG_*).
enum RegType : uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
  kRegMultiSz = 7,
  kRegQword = 11,
};

// Access masks (KEY_*).
constexpr uint32_t kKeyQueryValue = 0x0001;
constexpr uint32_t kKeySetValue = 0x0002;
constexpr uint32_t kKeyCreateSubKey = 0x0004;
constexpr uint32_t kKeyEnumerateSubKeys = 0x0008;
constexpr uint32_t kKeyRead = 0x20019;
constexpr uint32_t kKeyWrite = 0x20006;
constexpr uint32_t kKeyAllAccess = 0xF003F;

// Trustee types of an access entry (TRUSTEE_TYPE).
enum TrusteeType : uint32_t {
  kTrusteeIsGroup = 2,
  kTrusteeIsWellKnownGroup = 5,
};

// One entry of the access-control list of a key that is being created: the
// trustee as a string SID ("S-1-1-0") with its trustee type, and the rights
// granted to it. The entry grants the rights (SET_ACCESS) without
// inheritance.
struct KeyAccessEntry {
  std::string sid;
  uint32_t trustee_type;
  uint32_t rights;
};

// Owner of one open registry key. Movable, not copyable; closes the key in its
// destructor. A default-constructed RegKey is not open.
class RegKey {
 public:
  RegKey() noexcept = default;
  ~RegKey();
  RegKey(RegKey&& other) noexcept;
  RegKey& operator=(RegKey&& other) noexcept;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;

  // The predefined root key HKEY_LOCAL_MACHINE. It is always open and is
  // never closed.
  static const RegKey& LocalMachine();

  bool is_open() const { return handle_ != nullptr; }

  // Closes the key, if open. Closing the predefined root does nothing.
  void Close();

  // RegOpenKeyExA: opens `subkey` (backslash-separated path, may be empty to
  // reopen `parent`) below `parent`. Closes what this object held first.
  int32_t Open(const RegKey& parent, const std::string& subkey, uint32_t access);

  // RegCreateKeyExA with REG_OPTION_NON_VOLATILE: opens `subkey`, creating it
  // and any missing keys above it. When `acl` is given, the keys this call
  // creates get a security descriptor whose DACL holds exactly those entries;
  // keys that exist already keep their own security. `created` (optional)
  // tells whether the last key of the path was created.
  int32_t Create(const RegKey& parent, const std::string& subkey, uint32_t access,
                 const std::vector<KeyAccessEntry>* acl, bool* created);

  // RegQueryValueExA. `type` may be null (the type is then not asked for).
  // With `data` null only the size is reported. When the data do not fit in
  // *size bytes the result is kRegMoreData, *size is set to the needed size
  // and the buffer is left as it was. The name "" is the default value.
  int32_t QueryValue(const std::string& name, uint32_t* type, void* data,
                     uint32_t* size) const;

  // RegSetValueExA: stores the bytes exactly as given, with the given type.
  int32_t SetValue(const std::string& name, uint32_t type, const void* data, uint32_t size);

  // RegDeleteValueA.
  int32_t DeleteValue(const std::string& name);

  // RegDeleteKeyA: deletes the subkey with its values. A subkey that has
  // subkeys of its own is not deleted (kRegAccessDenied).
  int32_t DeleteSubKey(const std::string& subkey);

  // RegEnumKeyExA / RegEnumValueA, by index; kRegNoMoreItems past the end.
  int32_t EnumSubKey(uint32_t index, std::string* name) const;
  int32_t EnumValue(uint32_t index, std::string* name, uint32_t* type,
                    std::vector<uint8_t>* data) const;

  // RegQueryInfoKeyA: the numbers of subkeys and values (either may be null).
  int32_t QueryInfo(uint32_t* subkeys, uint32_t* values) const;

  // RegGetKeySecurity for the DACL: the key's security descriptor in
  // self-relative form; empty when the key has none of its own.
  int32_t GetSecurity(std::vector<uint8_t>* descriptor) const;

 private:
  friend class RegKeyAccess;  // backends reach the handle through this
  void* handle_ = nullptr;     // HKEY, or the native store's key record
  bool predefined_ = false;    // the root: never closed
};

// The calls this process has made through the port since it started, by
// kind. On Windows each one is a round trip to the registry (under Wine, to
// its server process), which is what the registry costs a login; the Windows
// benchmark reports them per login. Counted by both backends alike.
struct RegistryCallCounts {
  uint64_t opens = 0;    // Open, Create
  uint64_t queries = 0;  // QueryValue, EnumSubKey, EnumValue, QueryInfo, GetSecurity
  uint64_t writes = 0;   // SetValue, DeleteValue, DeleteSubKey
  uint64_t closes = 0;   // Close of a key that was open (the root excepted)

  uint64_t total() const { return opens + queries + writes + closes; }
};
RegistryCallCounts RegistryCalls();

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_REGISTRY_H_
