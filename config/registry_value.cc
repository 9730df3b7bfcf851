#include "config/registry_value.h"

#include <algorithm>

#include "platform/event_log.h"

namespace wendrel {
namespace {

// A value stored as another type than its documented one, which the reader
// took anyway: the administrator learns what the extension made of it. The
// value itself is never put in the event (it may be the proxy password).
void ReportWrongType(const std::string& key_path, const std::string& name, uint32_t stored,
                     uint32_t documented, const std::string& read_as) {
  platform::ReportEvent(platform::EventId::kSettingWrongType,
                        {name, "HKEY_LOCAL_MACHINE\\" + key_path, RegistryTypeName(stored),
                         RegistryTypeName(documented), read_as});
}

}  // namespace

const char* RegistryTypeName(uint32_t type) {
  switch (type) {
    case platform::kRegNone: return "REG_NONE";
    case platform::kRegSz: return "REG_SZ";
    case platform::kRegExpandSz: return "REG_EXPAND_SZ";
    case platform::kRegBinary: return "REG_BINARY";
    case platform::kRegDword: return "REG_DWORD";
    case platform::kRegMultiSz: return "REG_MULTI_SZ";
    case platform::kRegQword: return "REG_QWORD";
    default: return "an unknown type";
  }
}

uint32_t ReadRegistryNumber(const platform::RegKey& key, const std::string& key_path,
                            const std::string& name, uint32_t default_value) {
  // Spelled out byte by byte so that the buffer is little-endian, as the
  // registry's data are, whatever the host.
  uint8_t buffer[4];
  for (int i = 0; i < 4; ++i) buffer[i] = static_cast<uint8_t>(default_value >> (8 * i));
  // Stays kRegDword unless the query hands back another type (a missing
  // value hands back none).
  uint32_t type = platform::kRegDword;
  int32_t status = platform::kRegFileNotFound;
  if (key.is_open()) {
    uint32_t size = sizeof(buffer);
    // The status decides nothing: on failure (missing value, data longer
    // than 4 bytes) the query leaves the buffer, and so the default,
    // untouched; shorter data overwrite only the bytes they have.
    status = key.QueryValue(name, &type, buffer, &size);
  }
  const uint32_t number = static_cast<uint32_t>(buffer[0]) |
                          static_cast<uint32_t>(buffer[1]) << 8 |
                          static_cast<uint32_t>(buffer[2]) << 16 |
                          static_cast<uint32_t>(buffer[3]) << 24;
  const bool found = status == platform::kRegSuccess || status == platform::kRegMoreData;
  if (found && type != platform::kRegDword) {
    ReportWrongType(key_path, name, type, platform::kRegDword,
                    (status == platform::kRegSuccess ? "the number " : "its default, ") +
                        std::to_string(number));
  }
  return number;
}

bool ReadRegistryText(const platform::RegKey& key, const std::string& key_path,
                      const std::string& name, std::string* text) {
  text->clear();
  if (!key.is_open()) return false;
  char buffer[kTextBufferSize] = {};
  uint32_t size = sizeof(buffer);
  uint32_t type = platform::kRegSz;
  const int32_t status = key.QueryValue(name, &type, buffer, &size);
  // String data normally carry their terminator. Data stored without one are
  // taken as they are: Windows appends the terminator itself when the buffer
  // has room, the native store hands back exactly the stored bytes, and
  // bounding the text by the size returned gives the same text on both. Data
  // that fill all 261 bytes without a zero byte are 261 characters long, too
  // long like any value over 260 characters.
  size_t length = 0;
  if (status == platform::kRegSuccess) {
    const size_t limit = std::min<size_t>(size, sizeof(buffer));
    while (length < limit && buffer[length] != '\0') ++length;
  }
  const bool fits = status == platform::kRegSuccess && length <= kMaxTextLength;
  const bool found = status == platform::kRegSuccess || status == platform::kRegMoreData;
  if (found && type != platform::kRegSz) {
    // How long, not what: the text may be a password.
    ReportWrongType(key_path, name, type, platform::kRegSz,
                    !fits         ? std::string("the empty text (it is too long)")
                    : length == 0 ? std::string("the empty text")
                                  : "a text of " + std::to_string(length) +
                                        (length == 1 ? " character" : " characters"));
  }
  if (!fits) return false;
  text->assign(buffer, length);
  return true;
}

}  // namespace wendrel
