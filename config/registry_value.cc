#include "config/registry_value.h"

#include <algorithm>

namespace wendrel {

uint32_t ReadRegistryNumber(const platform::RegKey& key, const std::string& name,
                            uint32_t default_value) {
  // Spelled out byte by byte so that the buffer is little-endian, as the
  // registry's data are, whatever the host.
  uint8_t buffer[4];
  for (int i = 0; i < 4; ++i) buffer[i] = static_cast<uint8_t>(default_value >> (8 * i));
  if (key.is_open()) {
    uint32_t size = sizeof(buffer);
    // The result is deliberately ignored: on failure (missing value, data
    // longer than 4 bytes) the query leaves the buffer, and so the default,
    // untouched; shorter data overwrite only the bytes they have.
    key.QueryValue(name, nullptr, buffer, &size);
  }
  return static_cast<uint32_t>(buffer[0]) | static_cast<uint32_t>(buffer[1]) << 8 |
         static_cast<uint32_t>(buffer[2]) << 16 | static_cast<uint32_t>(buffer[3]) << 24;
}

bool ReadRegistryText(const platform::RegKey& key, const std::string& name, std::string* text) {
  text->clear();
  if (!key.is_open()) return false;
  char buffer[kTextBufferSize] = {};
  uint32_t size = sizeof(buffer);
  if (key.QueryValue(name, nullptr, buffer, &size) != platform::kRegSuccess) return false;
  // String data normally carry their terminator. Data stored without one are
  // taken as they are: Windows appends the terminator itself when the buffer
  // has room, the native store hands back exactly the stored bytes, and
  // bounding the text by the size returned gives the same text on both. Data
  // that fill all 261 bytes without a zero byte are 261 characters long, too
  // long like any value over 260 characters.
  size_t limit = std::min<size_t>(size, sizeof(buffer));
  size_t length = 0;
  while (length < limit && buffer[length] != '\0') ++length;
  if (length > kMaxTextLength) return false;
  text->assign(buffer, length);
  return true;
}

}  // namespace wendrel
