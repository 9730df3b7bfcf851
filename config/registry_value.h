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

// Reads value `name` of `key` as a 32-bit number, the way a query without a
// type into a 4-byte buffer holding `default_value` behaves: data of up to 4
// bytes overwrite the buffer's low bytes (little-endian), anything that does
// not fit (a REG_QWORD, a string of more than three characters) or is missing
// leaves the default. The type is not checked, so the string "0" reads as
// 0x30. A key that is not open gives the default.
uint32_t ReadRegistryNumber(const platform::RegKey& key, const std::string& name,
                            uint32_t default_value);

// Reads value `name` of `key` into a 261-byte buffer. Returns false, with
// `text` empty, when the key is not open, the value is missing, or its text
// is longer than 260 characters. The text ends at the first zero byte.
bool ReadRegistryText(const platform::RegKey& key, const std::string& name, std::string* text);

}  // namespace wendrel

#endif  // WENDREL_CONFIG_REGISTRY_VALUE_H_
