#include "platform/icmp.h"

#include <cstdio>

namespace wendrel {
namespace platform {

void FormatIpv4Address(uint32_t address, char (&text)[16]) {
  // Network byte order: the first part is the lowest-addressed byte.
  const unsigned char* b = reinterpret_cast<const unsigned char*>(&address);
  std::snprintf(text, sizeof(text), "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

}  // namespace platform
}  // namespace wendrel
