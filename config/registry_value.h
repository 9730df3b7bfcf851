// How every configuration reader reads one registry value. The readers never
// fail for a missing or malformed value: numbers fall back to a default and
// strings to the empty string.

#ifndef WENDREL_CONFIG_REGISTRY_VALUE_H_
#define WENDREL_CONFIG_REGISTRY_VALUE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/registry.h"

namespace wendrel {

// Fixed text buffers hold this many characters plus a terminator.
constexpr size_t kMaxTextLength = 260;
constexpr size_t kTextBufferSize = kMaxTextLength + 1;

// Reads value `name` of `key` (opened at `key_path` below HKEY_LOCAL_MACHINE)
// as a 32-bit number, the way a query into a 4-byte buffer holding
// `default_value` behaves: data of up to 4 bytes overwrite the buffer's low
// bytes (little-endian), anything that does not fit (a REG_QWORD, a string
// of more than three characters) or is missing leaves the default. The type
// decides nothing, so the string "0" reads as 0x30; a value stored as
// anything but REG_DWORD is reported to the administrator (SettingWrongType)
// with what it was read as. A key that is not open gives the default.
uint32_t ReadRegistryNumber(const platform::RegKey& key, const std::string& key_path,
                            const std::string& name, uint32_t default_value);

// Reads value `name` of `key` (opened at `key_path`) into a 261-byte buffer.
// Returns false, with `text` empty, when the key is not open, the value is
// missing, or its text is longer than 260 characters. The text ends at the
// first zero byte. A value stored as anything but REG_SZ is read all the
// same, and reported like a number's.
bool ReadRegistryText(const platform::RegKey& key, const std::string& key_path,
                      const std::string& name, std::string* text);

// "REG_SZ", "REG_DWORD", ...: the names administrators know.
const char* RegistryTypeName(uint32_t type);

}  // namespace wendrel

#endif  // WENDREL_CONFIG_REGISTRY_VALUE_H_
